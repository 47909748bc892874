// The echo program's client: one program per process, started at the first echo, spoken to
// over two pipes that no other child inherits, killed and reaped when it dies, goes silent or
// falls out of step, and started afresh by the next echo.
#include "platform/linux/EchoProgramClient.h"

#include "echo/EchoProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <span>
#include <thread>

namespace tarnwick::platform {
namespace {

using Clock = std::chrono::steady_clock;

// How long a started program may take to say which socket it has: it loads its libraries and
// opens the socket first, which on a busy machine can take a while.
constexpr auto kGreetingWait = std::chrono::seconds(5);
// Beyond an echo's own timeout, how long its answer may take to come back: the program may
// wait for a processor on a busy machine, and a late answer is not a dead program.
constexpr auto kAnswerMargin = std::chrono::seconds(1);
// How long a program whose input closed may take to exit before it is killed.
constexpr auto kExitWait = std::chrono::seconds(1);

// A failure the program could not report: the status, and every other header field that fits
// zero (the data area keeps what the caller put there).
std::uint32_t Fail(std::span<std::uint8_t> reply, std::int32_t status) {
    std::fill_n(reply.begin(), std::min(reply.size(), reply_layout::kHeaderSize), 0);
    if (reply.size() >= reply_layout::kStatus + sizeof status)
        std::memcpy(reply.data() + reply_layout::kStatus, &status, sizeof status);
    return 0;
}

// The program writes the record's data and options pointers as offsets from the record's
// start (0: none), never its own addresses; in the caller's buffer they become what a caller
// of this service gets: the low 32 bits of where the data and options lie in that buffer.
void PointIntoCallersBuffer(std::span<std::uint8_t> record) {
    const auto base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record.data()));
    for (const std::size_t field : {reply_layout::kDataPointer, reply_layout::kOptionsData}) {
        std::uint32_t offset = 0;
        if (record.size() < field + sizeof offset)
            continue;
        std::memcpy(&offset, record.data() + field, sizeof offset);
        if (offset == 0)
            continue;
        offset += base;
        std::memcpy(record.data() + field, &offset, sizeof offset);
    }
}

// Moves a descriptor above the standard ones, so that setting up the child's 0 and 1 never
// overwrites the other pipe (as when this process was started with them closed).
int AboveStandard(int descriptor) {
    if (descriptor < 0 || descriptor > STDERR_FILENO)
        return descriptor;
    const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(descriptor);
    return moved;
}

void CloseIfOpen(int& descriptor) {
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
}

// Waits until the descriptor is ready for events or the deadline passes.
bool WaitUntil(int descriptor, short events, Clock::time_point deadline) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pollfd waiting{descriptor, events, 0};
        const int ready =
            poll(&waiting, 1, static_cast<int>(std::min<std::int64_t>(remaining.count(), INT_MAX)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Writing to a program that died raises SIGPIPE, which would end this process. It is blocked
// for this thread during the write only, and one that the write raised is taken back, so the
// process's own handling of SIGPIPE (and every child's) stays as it was.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
        // One the caller already had blocked may be pending: that one stays theirs.
        sigset_t pending;
        wasPending_ = sigismember(&previous_, SIGPIPE) == 1 && sigpending(&pending) == 0 &&
                      sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlocked() {
        if (broken_ && !wasPending_) {
            const timespec none{};
            while (sigtimedwait(&pipeOnly_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

    void NoteBrokenPipe() { broken_ = true; }

private:
    sigset_t pipeOnly_, previous_;
    bool wasPending_ = false, broken_ = false;
};

} // namespace

EchoProgramClient::EchoProgramClient(std::string programPath)
    : programPath_(std::move(programPath)) {}

EchoProgramClient::~EchoProgramClient() {
    if (program_ < 0 || owner_ != getpid())
        return;
    // Its input ends: it exits by itself, and is killed if it does not in time.
    CloseIfOpen(requests_);
    const Clock::time_point deadline = Clock::now() + kExitWait;
    while (waitpid(program_, nullptr, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            Stop();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    CloseIfOpen(answers_);
}

IcmpHandle EchoProgramClient::IcmpCreateFile() {
    std::lock_guard lock(mutex_);
    if (!Running() && !Start())
        return kInvalidIcmpHandle;
    lastOpenFailure_ = IcmpOpenFailure::None;
    handles_.insert(nextHandle_);
    return nextHandle_++;
}

IcmpOpenFailure EchoProgramClient::LastOpenFailure() const {
    std::lock_guard lock(mutex_);
    return lastOpenFailure_;
}

std::uint32_t EchoProgramClient::IcmpSendEcho(IcmpHandle handle, std::uint32_t destinationAddress,
                                              const void* requestData, std::uint16_t requestSize,
                                              const void* requestOptions, void* replyBuffer,
                                              std::uint32_t replySize,
                                              std::uint32_t timeoutMilliseconds) {
    if (replyBuffer == nullptr)
        return 0;
    const std::span<std::uint8_t> reply(static_cast<std::uint8_t*>(replyBuffer), replySize);
    std::lock_guard lock(mutex_);
    if (!handles_.contains(handle))
        return Fail(reply, ip_status::kGeneralFailure);
    if (requestData == nullptr && requestSize > 0)
        return Fail(reply, ip_status::kBadRequest);
    // Per-request IP options (TTL, TOS, flags) are not offered.
    if (requestOptions != nullptr)
        return Fail(reply, ip_status::kBadOption);
    if (requestSize > echo::kLargestEchoData)
        return Fail(reply, ip_status::kPacketTooBig);
    // A handle outlives no program: handles go with the program they were opened on.
    if (program_ < 0)
        return Fail(reply, ip_status::kGeneralFailure);

    const std::uint32_t timeout = std::min(timeoutMilliseconds, echo::kLongestTimeoutMilliseconds);
    const echo::RequestHeader header{
        echo::kProtocolVersion, echo::RequestKind::Echo, 0, destinationAddress, timeout, replySize};
    const auto length = static_cast<echo::FrameLength>(sizeof header + requestSize);
    std::uint8_t frame[sizeof length + sizeof header + echo::kLargestEchoData];
    std::memcpy(frame, &length, sizeof length);
    std::memcpy(frame + sizeof length, &header, sizeof header);
    if (requestSize > 0)
        std::memcpy(frame + sizeof length + sizeof header, requestData, requestSize);

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(timeout) + kAnswerMargin;
    echo::AnswerHeader answer{};
    std::size_t recordRead = 0;
    const bool answered = Write(frame, sizeof length + length, deadline) &&
                          ReadAnswer(answer, reply, recordRead, deadline);
    if (!answered) {
        // A program that died halfway leaves no half record behind.
        std::fill_n(reply.begin(), recordRead, 0);
        Stop();
        return Fail(reply, ip_status::kGeneralFailure);
    }
    if (answer.verdict != echo::Verdict::Served)
        return Fail(reply, ip_status::kGeneralFailure);
    PointIntoCallersBuffer(reply.first(answer.recordSize));
    return answer.replies;
}

bool EchoProgramClient::IcmpCloseHandle(IcmpHandle handle) {
    std::lock_guard lock(mutex_);
    return handles_.erase(handle) == 1;
}

bool EchoProgramClient::Running() {
    if (program_ < 0)
        return false;
    // A forked child shares its parent's pipes and cannot reap its parent's program: it lets
    // go of them and starts its own, in its own namespaces and with its own rights.
    if (owner_ != getpid()) {
        CloseIfOpen(requests_);
        CloseIfOpen(answers_);
        program_ = -1;
        handles_.clear();
        return false;
    }
    // Between echoes nothing may arrive: anything readable is the program's end or bytes out
    // of step with the requests.
    pollfd idle{answers_, POLLIN, 0};
    if (poll(&idle, 1, 0) == 0)
        return true;
    Stop();
    return false;
}

bool EchoProgramClient::Start() {
    lastOpenFailure_ = IcmpOpenFailure::Unavailable;
    int requestPipe[2], answerPipe[2];
    if (pipe2(requestPipe, O_CLOEXEC) != 0)
        return false;
    if (pipe2(answerPipe, O_CLOEXEC) != 0) {
        close(requestPipe[0]);
        close(requestPipe[1]);
        return false;
    }
    int childInput = AboveStandard(requestPipe[0]), childOutput = AboveStandard(answerPipe[1]);
    requests_ = AboveStandard(requestPipe[1]);
    answers_ = AboveStandard(answerPipe[0]);

    // The program starts with no blocked signals, default dispositions and an empty
    // environment: nothing of this process's settings steers it.
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // The copies on 0 and 1 lose close-on-exec; every other descriptor keeps it.
    posix_spawn_file_actions_adddup2(&actions, childInput, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childOutput, STDOUT_FILENO);
    char* const arguments[] = {const_cast<char*>(programPath_.c_str()), nullptr};
    char* const environment[] = {nullptr};
    const bool invalid = childInput < 0 || childOutput < 0 || requests_ < 0 || answers_ < 0;
    const int error = invalid ? EMFILE
                              : posix_spawn(&program_, programPath_.c_str(), &actions, &attributes,
                                            arguments, environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseIfOpen(childInput);
    CloseIfOpen(childOutput);
    if (error != 0) {
        program_ = -1;
        CloseIfOpen(requests_);
        CloseIfOpen(answers_);
        if (error == ENOENT || error == EACCES || error == ENOEXEC || error == ENOTDIR)
            lastOpenFailure_ = IcmpOpenFailure::ProgramMissing;
        return false;
    }
    owner_ = getpid();
    // Our ends never block: every wait on them is a poll with a deadline.
    fcntl(requests_, F_SETFL, O_NONBLOCK);
    fcntl(answers_, F_SETFL, O_NONBLOCK);

    echo::Greeting greeting{};
    if (!Read(&greeting, sizeof greeting, Clock::now() + kGreetingWait) ||
        greeting.version != echo::kProtocolVersion) {
        Stop();
        return false;
    }
    if (greeting.socket != echo::SocketKind::None)
        return true;
    // Without a socket it can only fail; the next echo asks a fresh one, which a grant or a
    // setting made meanwhile lets ping.
    Stop();
    if (greeting.openFailure == echo::OpenFailure::NotPermitted)
        lastOpenFailure_ = IcmpOpenFailure::NotPermitted;
    return false;
}

bool EchoProgramClient::Write(const void* bytes, std::size_t size, Clock::time_point deadline) {
    const auto* next = static_cast<const std::uint8_t*>(bytes);
    SigpipeBlocked blocked;
    while (size > 0) {
        const ssize_t written = write(requests_, next, size);
        if (written > 0) {
            next += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EPIPE) {
            blocked.NoteBrokenPipe();
            return false;
        } else if (written < 0 && errno != EINTR &&
                   (errno != EAGAIN || !WaitUntil(requests_, POLLOUT, deadline))) {
            return false;
        }
    }
    return true;
}

bool EchoProgramClient::Read(void* bytes, std::size_t size, Clock::time_point deadline) {
    auto* next = static_cast<std::uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t got = read(answers_, next, size);
        if (got > 0) {
            next += got;
            size -= static_cast<std::size_t>(got);
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN) ||
                   (errno == EAGAIN && !WaitUntil(answers_, POLLIN, deadline))) {
            return false; // its end, a failure, or silence past the deadline
        }
    }
    return true;
}

bool EchoProgramClient::ReadAnswer(echo::AnswerHeader& answer, std::span<std::uint8_t> reply,
                                   std::size_t& recordRead, Clock::time_point deadline) {
    // The program needs a moment for the echo, so wait first; then the header and as much of
    // the record as came with it, in one read.
    if (!WaitUntil(answers_, POLLIN, deadline))
        return false;
    iovec parts[] = {{&answer, sizeof answer}, {reply.data(), reply.size()}};
    ssize_t got;
    while ((got = readv(answers_, parts, 2)) < 0 && errno == EINTR) {
    }
    if (got < 0 && errno == EAGAIN)
        got = 0;
    if (got < 0)
        return false;
    const auto headerRead = std::min(static_cast<std::size_t>(got), sizeof answer);
    recordRead = static_cast<std::size_t>(got) - headerRead;
    if (!Read(reinterpret_cast<std::uint8_t*>(&answer) + headerRead, sizeof answer - headerRead,
              deadline) ||
        answer.version != echo::kProtocolVersion || answer.recordSize > reply.size() ||
        answer.recordSize > echo::kLargestRecord || recordRead > answer.recordSize)
        return false;
    const std::size_t rest = answer.recordSize - recordRead;
    recordRead = answer.recordSize;
    return Read(reply.data() + answer.recordSize - rest, rest, deadline);
}

void EchoProgramClient::Stop() {
    if (program_ >= 0) {
        kill(program_, SIGKILL);
        while (waitpid(program_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    program_ = -1;
    CloseIfOpen(requests_);
    CloseIfOpen(answers_);
    handles_.clear();
}

std::string FindEchoProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {}; // unreadable /proc: found nowhere, and never in the working folder
    const std::filesystem::path beside = self.parent_path() / echo::kEchoProgramName;
    if (std::filesystem::is_regular_file(beside, error))
        return beside;
    return (self.parent_path() / TARNWICK_ECHO_PROGRAM_FROM_BINDIR).lexically_normal();
}

IcmpService& SystemIcmpService() {
    static EchoProgramClient service(FindEchoProgram());
    return service;
}

} // namespace tarnwick::platform

// The program's ends of the pipes are its 0 and 1; ours never block, and every wait on them
// is a poll with a deadline.
#include "platform/linux/EchoProgramProcess.h"

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
#include <thread>

namespace tarnwick::platform {
namespace {

using Clock = EchoProgramProcess::Clock;

// How long a program whose input closed may take to exit before it is killed.
constexpr auto kExitWait = std::chrono::seconds(1);

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

EchoProgramProcess::~EchoProgramProcess() {
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

bool EchoProgramProcess::Running() {
    if (program_ < 0)
        return false;
    // A forked child shares its parent's pipes and cannot reap its parent's program: it lets
    // go of them and starts its own, in its own namespaces and with its own rights.
    if (owner_ != getpid()) {
        CloseIfOpen(requests_);
        CloseIfOpen(answers_);
        program_ = -1;
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

contract::OpenFailure EchoProgramProcess::Start() {
    int requestPipe[2], answerPipe[2];
    if (pipe2(requestPipe, O_CLOEXEC) != 0)
        return contract::OpenFailure::Unavailable;
    if (pipe2(answerPipe, O_CLOEXEC) != 0) {
        close(requestPipe[0]);
        close(requestPipe[1]);
        return contract::OpenFailure::Unavailable;
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
    char* const arguments[] = {const_cast<char*>(path_.c_str()), nullptr};
    char* const environment[] = {nullptr};
    const bool invalid = childInput < 0 || childOutput < 0 || requests_ < 0 || answers_ < 0;
    const int error = invalid ? EMFILE
                              : posix_spawn(&program_, path_.c_str(), &actions, &attributes,
                                            arguments, environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseIfOpen(childInput);
    CloseIfOpen(childOutput);
    if (error != 0) {
        program_ = -1;
        CloseIfOpen(requests_);
        CloseIfOpen(answers_);
        const bool missing =
            error == ENOENT || error == EACCES || error == ENOEXEC || error == ENOTDIR;
        return missing ? contract::OpenFailure::ProgramMissing : contract::OpenFailure::Unavailable;
    }
    owner_ = getpid();
    fcntl(requests_, F_SETFL, O_NONBLOCK);
    fcntl(answers_, F_SETFL, O_NONBLOCK);
    return contract::OpenFailure::None;
}

void EchoProgramProcess::Stop() {
    if (program_ >= 0) {
        kill(program_, SIGKILL);
        while (waitpid(program_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    program_ = -1;
    CloseIfOpen(requests_);
    CloseIfOpen(answers_);
}

bool EchoProgramProcess::Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
    SigpipeBlocked blocked;
    while (!bytes.empty()) {
        const ssize_t written = write(requests_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
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

bool EchoProgramProcess::Read(std::span<std::uint8_t> bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        const ssize_t got = read(answers_, bytes.data(), bytes.size());
        if (got > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN) ||
                   (errno == EAGAIN && !WaitUntil(answers_, POLLIN, deadline))) {
            return false; // its end, a failure, or silence past the deadline
        }
    }
    return true;
}

std::optional<std::size_t> EchoProgramProcess::ReadWhatCame(std::span<std::uint8_t> first,
                                                            std::span<std::uint8_t> second,
                                                            Clock::time_point deadline) {
    if (!WaitUntil(answers_, POLLIN, deadline))
        return std::nullopt;
    iovec parts[] = {{first.data(), first.size()}, {second.data(), second.size()}};
    ssize_t got;
    while ((got = readv(answers_, parts, 2)) < 0 && errno == EINTR) {
    }
    if (got < 0 && errno == EAGAIN)
        got = 0;
    if (got < 0)
        return std::nullopt;
    return static_cast<std::size_t>(got);
}

} // namespace tarnwick::platform

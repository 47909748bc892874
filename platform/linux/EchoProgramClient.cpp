// The echo program's client: each echo is one request frame and one answer, in the contract's
// messages; a program that fails one is stopped, and the next echo starts a fresh one.
#include "platform/linux/EchoProgramClient.h"

#include <algorithm>
#include <filesystem>

namespace tarnwick::platform {
namespace {

using Clock = EchoProgramProcess::Clock;
namespace ip_status = contract::ip_status;

// How long a started program may take to say which socket it has: it loads its libraries and
// opens the socket first, which on a busy machine can take a while.
constexpr auto kGreetingWait = std::chrono::seconds(5);
// Beyond an echo's own timeout, how long its answer may take to come back: the program may
// wait for a processor on a busy machine, and a late answer is not a dead program.
constexpr auto kAnswerMargin = std::chrono::seconds(1);

// A failure the program could not report; the data area keeps what the caller put there.
std::uint32_t Fail(std::span<std::uint8_t> reply, std::int32_t status) {
    contract::WriteEchoFailure(reply, status);
    return 0;
}

} // namespace

IcmpHandle EchoProgramClient::IcmpCreateFile() {
    std::lock_guard lock(mutex_);
    if (!program_.Running()) {
        handles_.clear();
        if (!Start())
            return kInvalidIcmpHandle;
    }
    lastOpenFailure_ = contract::OpenFailure::None;
    handles_.insert(nextHandle_);
    return nextHandle_++;
}

contract::OpenFailure EchoProgramClient::LastOpenFailure() const {
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
    // A handle outlives no program: handles go with the program they were opened on.
    if (!handles_.contains(handle))
        return Fail(reply, ip_status::kGeneralFailure);
    if (requestData == nullptr && requestSize > 0)
        return Fail(reply, ip_status::kBadRequest);
    // Per-request IP options (TTL, TOS, flags) are not offered.
    if (requestOptions != nullptr)
        return Fail(reply, ip_status::kBadOption);
    if (requestSize > contract::kLargestEchoData)
        return Fail(reply, ip_status::kPacketTooBig);

    const std::uint32_t timeout =
        std::min(timeoutMilliseconds, contract::kLongestTimeoutMilliseconds);
    contract::EchoRequest request;
    request.destination = destinationAddress;
    request.timeoutMilliseconds = timeout;
    request.replyCapacity = replySize;
    request.data = {static_cast<const std::uint8_t*>(requestData), requestSize};
    std::uint8_t frame[contract::kLargestEncodedRequest];
    const std::size_t frameSize = contract::EncodeRequest(request, frame);

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(timeout) + kAnswerMargin;
    contract::AnswerHeader answer{};
    std::size_t recordRead = 0;
    const bool answered = program_.Write(std::span(frame).first(frameSize), deadline) &&
                          ReadAnswer(answer, reply, recordRead, deadline);
    if (!answered) {
        // A program that died halfway leaves no half record behind.
        std::fill_n(reply.begin(), recordRead, 0);
        Stop();
        return Fail(reply, ip_status::kGeneralFailure);
    }
    if (answer.verdict != contract::Verdict::Served)
        return Fail(reply, ip_status::kGeneralFailure);
    contract::PointIntoBuffer(reply.first(answer.recordSize));
    return answer.replies;
}

bool EchoProgramClient::IcmpCloseHandle(IcmpHandle handle) {
    std::lock_guard lock(mutex_);
    return handles_.erase(handle) == 1;
}

bool EchoProgramClient::Start() {
    lastOpenFailure_ = program_.Start();
    if (lastOpenFailure_ != contract::OpenFailure::None)
        return false;
    lastOpenFailure_ = contract::OpenFailure::Unavailable;
    std::array<std::uint8_t, sizeof(contract::Greeting)> bytes;
    const std::optional<contract::Greeting> greeting =
        program_.Read(bytes, Clock::now() + kGreetingWait) ? contract::DecodeGreeting(bytes)
                                                           : std::nullopt;
    if (!greeting) {
        Stop();
        return false;
    }
    if (greeting->socket != contract::SocketKind::None)
        return true;
    // Without a socket it can only fail; the next echo asks a fresh one, which a grant or a
    // setting made meanwhile lets ping.
    Stop();
    if (greeting->openFailure == contract::OpenFailure::NotPermitted)
        lastOpenFailure_ = contract::OpenFailure::NotPermitted;
    return false;
}

void EchoProgramClient::Stop() {
    program_.Stop();
    handles_.clear();
}

bool EchoProgramClient::ReadAnswer(contract::AnswerHeader& answer, std::span<std::uint8_t> reply,
                                   std::size_t& recordRead, Clock::time_point deadline) {
    // The program needs a moment for the echo, so wait first; then the header and as much of
    // the record as came with it, in one read.
    std::array<std::uint8_t, sizeof(contract::AnswerHeader)> header;
    const std::optional<std::size_t> got = program_.ReadWhatCame(header, reply, deadline);
    if (!got)
        return false;
    const std::size_t headerRead = std::min(*got, header.size());
    recordRead = *got - headerRead;
    if (!program_.Read(std::span(header).subspan(headerRead), deadline))
        return false;
    const std::optional<contract::AnswerHeader> decoded = contract::DecodeAnswerHeader(header);
    if (!decoded || decoded->recordSize > reply.size() || recordRead > decoded->recordSize)
        return false;
    answer = *decoded;
    const std::size_t rest = answer.recordSize - recordRead;
    recordRead = answer.recordSize;
    return program_.Read(reply.subspan(answer.recordSize - rest, rest), deadline);
}

std::string FindEchoProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {}; // unreadable /proc: found nowhere, and never in the working folder
    const std::filesystem::path beside = self.parent_path() / TARNWICK_ECHO_PROGRAM_NAME;
    if (std::filesystem::is_regular_file(beside, error))
        return beside;
    return (self.parent_path() / TARNWICK_ECHO_PROGRAM_FROM_BINDIR).lexically_normal();
}

IcmpService& SystemIcmpService() {
    static EchoProgramClient service(FindEchoProgram());
    return service;
}

} // namespace tarnwick::platform

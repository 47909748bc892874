// The built echo program through its pipes: what it answers to malformed requests, how it ends,
// and what it holds while it serves.
#include "support/EchoProgram.h"
#include "echo/Contract.h"
#include "support/NamedRows.h"
#include "support/SkipReasons.h"

#include <gtest/gtest.h>

#include <linux/filter.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <filesystem>

namespace tarnwick::echo {
namespace {

using testing::EchoAnswer;
using testing::EchoProgram;
using testing::EchoProgramStart;
using testing::PrintTo; // rows print by name

constexpr std::uint32_t kLoopback = 16777343;

// As root, a namespace of its own with ping sockets closed, so the raw socket serves; otherwise
// this machine as this user allows.
EchoProgramStart AsThisUser() {
    return {.ownNetwork = geteuid() == 0};
}

// What a served echo to 127.0.0.1 must record with the socket the greeting named.
std::int32_t LoopbackStatus(const EchoProgram& program) {
    return program.Greeting()->socket == SocketKind::None ? 11050 : 0;
}

const std::vector<std::uint8_t> kGood = EchoProgram::Frame(kLoopback, 1000, "Echo This");

// The good frame with its header changed as a faulty or hostile caller might.
std::vector<std::uint8_t> With(void (*change)(RequestHeader&)) {
    std::vector<std::uint8_t> frame = kGood;
    RequestHeader header;
    std::memcpy(&header, frame.data() + sizeof(FrameLength), sizeof header);
    change(header);
    std::memcpy(frame.data() + sizeof(FrameLength), &header, sizeof header);
    return frame;
}

// The good frame cut or padded to size bytes, its length saying so.
std::vector<std::uint8_t> Resized(std::size_t size) {
    std::vector<std::uint8_t> frame = kGood;
    frame.resize(size);
    const auto length = static_cast<FrameLength>(size - sizeof(FrameLength));
    std::memcpy(frame.data(), &length, sizeof length);
    return frame;
}

struct BadRequest {
    const char* name;
    std::vector<std::uint8_t> frame;
    Verdict verdict;
    std::int32_t status = 0; // for Served: the status its record must hold
};

class MalformedRequest : public ::testing::TestWithParam<BadRequest> {};

// Each row guards one refusal, and that the program reads the next frame from its first byte
// and serves it.
TEST_P(MalformedRequest, IsRefusedAndTheNextEchoIsServed) {
    EchoProgram program(AsThisUser());
    ASSERT_TRUE(program.Greeting()) << "no greeting";
    ASSERT_TRUE(program.Send(GetParam().frame));
    const std::optional<EchoAnswer> refused = program.Answer();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->header.verdict, GetParam().verdict);
    if (GetParam().verdict != Verdict::Served)
        EXPECT_EQ(refused->header.recordSize, 0u);
    else
        EXPECT_EQ(std::pair(refused->header.replies, refused->Status()),
                  std::pair(0u, GetParam().status));
    const std::optional<EchoAnswer> next = program.Echo();
    ASSERT_TRUE(next);
    EXPECT_EQ(std::tuple(next->header.verdict, next->Status(), next->Data()),
              std::tuple(Verdict::Served, LoopbackStatus(program),
                         LoopbackStatus(program) ? "" : "Echo This"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MalformedRequest,
    ::testing::Values(
        BadRequest{"EmptyFrame", {0, 0}, Verdict::ShortFrame},
        BadRequest{"FrameShorterThanItsHeader", Resized(2 + 15), Verdict::ShortFrame},
        // Version 1 carried a TTL and a TOS in what is now reserved: neither may reach the
        // socket.
        BadRequest{"PreviousVersionWithTtlAndTos", With([](RequestHeader& h) {
                       h.version = 1;
                       h.reserved = 0xE301;
                   }),
                   Verdict::UnknownVersion},
        BadRequest{"UnknownKind",
                   With([](RequestHeader& h) { h.kind = static_cast<RequestKind>(7); }),
                   Verdict::UnknownKind},
        BadRequest{"DataOverTheLimit", Resized(2 + kLargestFrame), Verdict::DataOverLimit},
        BadRequest{"TimeoutOverTheLimit",
                   With([](RequestHeader& h) { h.timeoutMilliseconds = 60'001; }),
                   Verdict::TimeoutOverLimit},
        BadRequest{"ReplyCapacityBelowTheRecord",
                   With([](RequestHeader& h) { h.replyCapacity = 36; }), Verdict::Served, 11001}),
    testing::kRowName);

// Guards the echoed bytes whole (large and empty ones too) in a record of exactly their size.
TEST(EchoProgram, EchoesWhole) {
    EchoProgram program(AsThisUser());
    ASSERT_TRUE(program.Greeting());
    if (program.Greeting()->socket == SocketKind::None)
        GTEST_SKIP() << testing::kNoIcmpSocket;
    std::string large(1400, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7);
    for (const std::string& text : {std::string("Echo This"), large, std::string()}) {
        const std::optional<EchoAnswer> answer = program.Echo(text);
        ASSERT_TRUE(answer);
        EXPECT_EQ(std::tuple(answer->Status(), answer->header.recordSize, answer->Data()),
                  std::tuple(0, 28 + text.size(), text));
    }
}

struct CutInput {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

class InputEnding : public ::testing::TestWithParam<CutInput> {};

// Guards that input ending anywhere, a frame cut short too, ends the program at once and
// cleanly (exit status 0), without an answer to the cut frame.
TEST_P(InputEnding, EndsTheProgramCleanly) {
    EchoProgram program(AsThisUser());
    ASSERT_TRUE(program.Greeting());
    ASSERT_TRUE(program.Send(GetParam().bytes));
    EXPECT_EQ(program.EndInput(), 0);
    EXPECT_FALSE(program.Answer());
}

INSTANTIATE_TEST_SUITE_P(Rows, InputEnding,
                         ::testing::Values(CutInput{"BetweenFrames", {}},
                                           CutInput{"InsideTheLength", {40}},
                                           CutInput{"InsideTheFrame", {40, 0, 1, 1, 0, 0}}),
                         testing::kRowName);

// Guards that the program never serves without its pipes: a socket would take the missing
// number and be read as requests, or written to as answers. It refuses with status 2.
TEST(EchoProgram, RefusesToStartWithoutItsInputOrOutput) {
    for (const char* closing : {"0<&-", ">&-"}) {
        const int status = std::system(
            ("timeout 30 " TARNWICK_ECHO_PROGRAM_BUILT " " + std::string(closing) + " 2>/dev/null")
                .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 2) << closing;
    }
}

struct Confinement {
    const char* name;
    EchoProgramStart start;
    SocketKind socket;
    OpenFailure failure = OpenFailure::None;
};

class WhileServing : public ::testing::TestWithParam<Confinement> {};

// Each row guards the drop and the confinement for one way the program is started: no
// capability in any set, no new privileges, the filter in force, no descriptor but its pipes
// and its one close-on-exec socket (a stray inherited one closed), the raw socket's filter
// locked; and the echo still answers.
TEST_P(WhileServing, HoldsNothingButItsSocket) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: starts the program as nobody, granted, in a namespace";
    const Confinement& row = GetParam();
    EchoProgram program(row.start);
    ASSERT_TRUE(program.Greeting()) << "no greeting";
    EXPECT_EQ(program.Greeting()->socket, row.socket);
    EXPECT_EQ(program.Greeting()->openFailure, row.failure);
    std::map<std::string, std::string> status = program.Status();
    for (const char* field : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_EQ(status[field], "0000000000000000") << field;
    EXPECT_EQ(status["NoNewPrivs"], "1");
    EXPECT_EQ(status["Seccomp"], "2");
    // The kernel gives a non-dumpable process's /proc entries to root.
    struct stat entry {};
    EXPECT_EQ(stat(("/proc/" + std::to_string(program.Pid()) + "/status").c_str(), &entry), 0);
    EXPECT_EQ(entry.st_uid, 0u) << "dumpable";

    EXPECT_EQ(program.Descriptors().size(), row.socket == SocketKind::None ? 3u : 4u);
    const int socket = program.SocketNumber();
    if (row.socket != SocketKind::None) {
        ASSERT_GT(socket, 2);
        std::ifstream info("/proc/" + std::to_string(program.Pid()) + "/fdinfo/" +
                           std::to_string(socket));
        unsigned long flags = 0;
        for (std::string name; info >> name && name != "flags:";)
            ;
        info >> std::oct >> flags;
        EXPECT_TRUE(flags & O_CLOEXEC) << "socket flags " << std::oct << flags;
    }
    if (row.socket == SocketKind::Raw) {
        const int copy = program.CopyOfDescriptor(socket);
        int locked = 0;
        socklen_t size = sizeof locked;
        EXPECT_EQ(getsockopt(copy, SOL_SOCKET, SO_LOCK_FILTER, &locked, &size), 0);
        EXPECT_EQ(locked, 1) << "the raw socket's filter is not locked";
        close(copy);
    }

    const std::optional<EchoAnswer> answer = program.Echo();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Status(), row.socket == SocketKind::None ? 11050 : 0);
    EXPECT_EQ(program.EndInput(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WhileServing,
    ::testing::Values(
        Confinement{"NobodyGrantedRawSocket",
                    {.asNobody = true, .granted = true, .ownNetwork = true},
                    SocketKind::Raw},
        Confinement{
            "NobodyGrantedPingSocket",
            {.asNobody = true, .granted = true, .ownNetwork = true, .pingSocketsOpen = true},
            SocketKind::Ping},
        Confinement{"RootRawSocket", {.ownNetwork = true}, SocketKind::Raw},
        Confinement{"NobodyPingSocket",
                    {.asNobody = true, .ownNetwork = true, .pingSocketsOpen = true},
                    SocketKind::Ping},
        Confinement{"NobodyWithoutPermission",
                    {.asNobody = true, .ownNetwork = true},
                    SocketKind::None,
                    OpenFailure::NotPermitted}),
    testing::kRowName);

} // namespace
} // namespace tarnwick::echo

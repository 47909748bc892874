// The echo probe over scripted services (what it sends, where reply bytes land, what it
// returns, that it releases everything on every way out), the socket library's start-up
// messages, and real echoes and their failures between two throw-away network namespaces.
#include "engine/EchoProbe.h"
#include "engine/EngineError.h"
#include "engine/SocketStartup.h"

#include "support/Fakes.h"
#include "support/IcmpPeer.h"
#include "support/NetworkNamespaces.h"
#include "support/SystemEcho.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

namespace tarnwick {
namespace {

using namespace platform::reply_layout;

// Scripted services only: no address used here is ever sent to.
class EchoProbe : public ::testing::Test {
protected:
    testing::FakeSocketLibrary sockets;
    testing::FakeIcmpService icmp;
    testing::RecordingMessageDialog messages;
    EchoServices services{sockets, icmp, messages};
    EchoReply reply{};
};

// Guards the request (text, destination, no options, the record's size, 200 ms), the caller's
// record as the buffer the service fills and gets back byte for byte, and the result.
TEST_F(EchoProbe, SendsEchoThisAndReadsTheReplyRecord) {
    reply.Data[249] = 'w';
    const std::int32_t header[] = {16777343, 0, 42, 9, -123456, 0x03024010, 0x01020304};
    icmp.reply = [&header](std::uint8_t* buffer) {
        std::memcpy(buffer, header, sizeof header);
        std::memcpy(buffer + kHeaderSize, "Echo This", 10);
        return buffer[277] == 'w' ? 1u : 0u;
    };
    EXPECT_EQ(PingAddress("127.0.0.200", reply, services), 42);
    ASSERT_EQ(icmp.sends.size(), 1u);
    const auto& call = icmp.sends[0];
    EXPECT_EQ(std::tie(call.destination, call.requestData, call.requestOptions, call.replySize,
                       call.timeout),
              std::make_tuple(std::uint32_t(-939523969), "Echo This", nullptr, 278u, 200u));
    EXPECT_EQ(std::memcmp(&reply, header, sizeof header), 0);
    EXPECT_EQ(std::string(reply.Data), "Echo This");
    EXPECT_EQ(reply.Data[249], 'w');
    EXPECT_EQ(icmp.opened, 1); // a leaked ICMP handle or socket start-up
    EXPECT_EQ(icmp.closed, std::vector<platform::IcmpHandle>{7});
    EXPECT_EQ(sockets.startups, 0);
    EXPECT_TRUE(messages.shown.empty());
}

// Guards the negated status of a failure, up to the largest, and the overflow raised for a
// status with no negation only after everything was released.
TEST_F(EchoProbe, FailureReturnsTheNegatedStatus) {
    for (const std::int32_t status : {11010, INT_MAX, INT_MIN}) {
        icmp.reply = [status](std::uint8_t* buffer) {
            return testing::Put(buffer, kStatus, status), 0u;
        };
        if (status == INT_MIN)
            EXPECT_THROW(PingAddress("127.0.2.1", reply, services), EngineError);
        else
            EXPECT_EQ(PingAddress("127.0.2.1", reply, services), -status);
        EXPECT_EQ(reply.Status, status);
        EXPECT_EQ(icmp.closed.size(), icmp.sends.size());
        EXPECT_EQ(sockets.startups, 0);
    }
}

// Guards parsing before opening anything: a rejected address touches no service or record.
TEST_F(EchoProbe, ParserErrorLeavesBeforeAnythingIsOpened) {
    reply.Data[0] = 'k';
    EXPECT_THROW(PingAddress("1.2.3.4.5", reply, services), EngineError);
    EXPECT_EQ(sockets.lastRequestedVersion, 0);
    EXPECT_EQ(icmp.opened, 0);
    EXPECT_EQ(reply.Data[0], 'k');
}

// Guards a failed start-up that still echoes, then tells of the failed clean-up.
TEST_F(EchoProbe, FailedSocketStartupStillEchoesThenReportsTheCleanup) {
    sockets.startupResult = 10091;
    PingAddress("127.0.0.1", reply, services);
    EXPECT_EQ(icmp.sends.size(), 1u);
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].prompt, "Windows Sockets error -1 occurred in Cleanup.");
}

// Guards the version check (major and minor from the right bytes), the socket-count check,
// the texts and icons of the messages, asking for 1.1, and the clean-up's result.
TEST(SocketStartup, TellsTheUserWhatTheLibraryLacks) {
    const std::string v = "Windows Sockets Version ",
                      notSupported =
                          " is not supported by Windows Sockets for 32 bit Windows environments.";
    const struct {
        std::int32_t result;
        std::uint16_t version, sockets;
        std::string message; // empty: success
    } rows[] = {
        {0, 0x0101, 1, ""},
        {0, 0x0002, 1, ""},
        {0, 0x0001, 100, v + "1.0" + notSupported},
        {0, 0x0900, 0, v + "0.9" + notSupported},
        {0, 0x0101, 0, "This application requires a minimum of 1 supported sockets."},
        {10091, 0x0101, 1,
         "Windows Sockets for 32 bit Windows environments is not successfully responding."}};
    for (const auto& row : rows) {
        testing::FakeSocketLibrary library;
        library.startupResult = row.result;
        library.grantedVersion = row.version;
        library.maxSockets = row.sockets;
        testing::RecordingMessageDialog messages;
        EXPECT_EQ(StartSockets(library, messages), row.message.empty() ? kTrue : kFalse);
        EXPECT_EQ(library.lastRequestedVersion, 257);
        const auto icon =
            row.result ? platform::MessageIcon::None : platform::MessageIcon::Exclamation;
        EXPECT_EQ(messages.shown,
                  (row.message.empty() ? std::vector<testing::ShownMessage>{}
                                       : std::vector<testing::ShownMessage>{{row.message, icon}}));
        // After a failed start-up, the clean-up's message is checked through the probe above.
        EXPECT_EQ(CleanupSockets(library, messages), row.result ? kFalse : kTrue);
    }
}

using testing::NamespacePair;

constexpr std::int32_t kFarValue = 33685696;  // 192.0.2.2
constexpr std::int32_t kNearValue = 16908480; // 192.0.2.1

// What the probe in the near namespace saw; copied out of the child as bytes.
struct ProbeRun {
    EchoReply reply;
    std::int32_t result;
    std::size_t messagesShown;
    long long milliseconds;
    platform::IcmpOpenFailure openFailure;
};

ProbeRun Probe(const char* addressText) {
    testing::RecordingMessageDialog messages;
    ProbeRun run{};
    const auto start = std::chrono::steady_clock::now();
    const PingOutcome outcome =
        ProbeAddress(addressText, run.reply, testing::BuiltEchoServices(messages));
    run.milliseconds = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
    run.result = outcome.result.value_or(INT_MIN);
    run.messagesShown = messages.shown.size();
    run.openFailure = outcome.openFailure;
    return run;
}

struct EchoRow {
    const char* name;
    const char* farVerdict; // nft verdict on the far side's echo requests; "" answers
    const char* address;
    std::int32_t status;
    std::int32_t reportingAddress; // Address after the probe
};

// Each row guards one mapping of what the network did to the status the user sees: a reply
// from the asked host, the 200 ms timeout, each ICMP error with its reporting host, local
// errors of sending (no route, broadcast). Never Status 0 for a failure.
constexpr EchoRow kRows[] = {
    {"Answers", "", "192.0.2.2", 0, kFarValue},
    {"OwnAddressAnswers", "", "192.0.2.1", 0, kNearValue},
    {"DroppedTimesOut", "drop", "192.0.2.2", 11010, 0},
    {"NetUnreachable", "reject with icmp type net-unreachable", "192.0.2.2", 11002, kFarValue},
    {"HostUnreachable", "reject with icmp type host-unreachable", "192.0.2.2", 11003, kFarValue},
    {"ProtUnreachable", "reject with icmp type prot-unreachable", "192.0.2.2", 11004, kFarValue},
    {"PortUnreachable", "reject with icmp type port-unreachable", "192.0.2.2", 11005, kFarValue},
    {"AdminProhibited", "reject with icmp type admin-prohibited", "192.0.2.2", 11003, kFarValue},
    {"FragmentationNeeded", "reject with icmp type frag-needed", "192.0.2.2", 11009, kFarValue},
    {"NoRoute", "", "198.51.100.7", 11002, 0},
    {"Broadcast", "", "192.0.2.255", 11018, 0},
};

// Every probe runs after the window's start-up, which ends with no capability left, through the
// echo program of this build. false: its raw socket (ping sockets off, run by root); true: a
// ping socket (ping sockets on, run as nobody, so a raw socket cannot be what answered).
class NamespaceEcho : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        pair.emplace();
        ASSERT_TRUE(pair->Ready() && pair->AllowPingSockets(ping)) << "no namespaces";
    }
    // Runs work in the near namespace, as nobody for a ping socket.
    template <typename Result>
    Result InNear(const std::function<Result()>& work, bool withoutRawSockets) {
        const std::optional<Result> run = testing::RunInNamespace<Result>(
            pair->Near(), withoutRawSockets, [&] { return testing::StartAsUser(), work(); });
        EXPECT_TRUE(run.has_value()) << "the probe's child process failed";
        return run.value_or(Result{});
    }

    const bool ping = GetParam();
    std::optional<NamespacePair> pair;
};

TEST_P(NamespaceEcho, EachOutcomeGivesItsStatus) {
    const auto probe = [this](const char* address, bool withoutRawSockets) {
        return InNear<ProbeRun>([address] { return Probe(address); }, withoutRawSockets);
    };
    for (const EchoRow& row : kRows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(pair->SetFarEchoVerdict(row.farVerdict));
        // On a busy machine an answer can come late, after 200 ms, and a timeout can end late:
        // such a probe is asked again; one that is wrong is not.
        ProbeRun run = probe(row.address, ping);
        for (int retry = 0; retry < 5 && ((row.status != 11010 && run.reply.Status == 11010) ||
                                          run.milliseconds >= (row.status == 11010 ? 1500 : 200));
             ++retry)
            run = probe(row.address, ping);
        EXPECT_EQ(run.reply.Status, row.status);
        EXPECT_EQ(run.reply.Address, row.reportingAddress);
        EXPECT_EQ(run.result, row.status == 0 ? run.reply.RoundTripTime : -row.status);
        EXPECT_EQ(run.reply.DataSize, row.status == 0 ? 9 : 0);
        EXPECT_EQ(std::string(run.reply.Data), row.status == 0 ? "Echo This" : "");
        EXPECT_EQ(run.messagesShown, 0u);
        EXPECT_EQ(run.openFailure, platform::IcmpOpenFailure::None);
        EXPECT_GE(run.milliseconds, row.status == 11010 ? 199 : 0);
        EXPECT_LT(run.milliseconds, row.status == 11010 ? 1500 : 200);
    }
    // Neither ping sockets nor CAP_NET_RAW: a general failure, never a success, and the service
    // says that this user may not ping.
    ASSERT_TRUE(pair->AllowPingSockets(false));
    const ProbeRun refused = probe("192.0.2.2", true);
    EXPECT_EQ(refused.reply.Status, 11050);
    EXPECT_EQ(refused.result, -11050);
    EXPECT_EQ(refused.openFailure, platform::IcmpOpenFailure::NotPermitted);
}

// What reaches the near host about an echo after it timed out, before the next echo or while
// that one waits; the next one is answered or not.
enum class Late { Error, Reply };
constexpr struct {
    const char* name;
    Late late;
    bool whileNextWaits, nextAnswered;
} kLateRows[] = {
    {"ErrorWhileIdleThenAnswer", Late::Error, false, true},
    {"ErrorWhileNextWaits", Late::Error, true, true},
    {"ReplyWhileIdleThenSilence", Late::Reply, false, false},
    {"ReplyWhileNextWaits", Late::Reply, true, false},
};

// Guards the next echo's result against anything about an earlier one: a pending error the
// next send would return, a queued error or reply, one that comes while the next one waits.
TEST_P(NamespaceEcho, NothingAboutAnEarlierEchoDecidesTheNext) {
    ASSERT_TRUE(pair->InFar("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    for (const auto& row : kLateRows) {
        SCOPED_TRACE(row.name);
        // The far host is a raw socket of the test; another one sees what reaches the near host.
        const int far = testing::RawSocketIn(pair->Far()),
                  near = testing::RawSocketIn(pair->Near());
        ASSERT_TRUE(far >= 0 && near >= 0);
        const auto probes = InNear<std::array<ProbeRun, 2>>(
            [&] {
                std::pair<std::uint16_t, std::uint16_t> requests[2];
                std::atomic<int> seen = 0;
                const auto late = [&] {
                    const auto [id, sequence] = requests[0];
                    testing::Send(far,
                                  row.late == Late::Error
                                      ? testing::ErrorQuotingRequest(3, 1, kNearValue, kFarValue,
                                                                     id, sequence)
                                      : testing::IcmpMessage(0, 0, id, sequence),
                                  kNearValue);
                };
                std::jthread peer([&](std::stop_token stop) {
                    for (std::uint8_t in[4096]; !stop.stop_requested();) {
                        pollfd waiting{far, POLLIN, 0};
                        const auto request =
                            poll(&waiting, 1, 20) > 0
                                ? testing::EchoThisRequest(in, recv(far, in, sizeof in, 0))
                                : std::nullopt;
                        if (!request)
                            continue;
                        requests[std::min(seen.load(), 1)] = *request;
                        if (++seen == 2 && row.whileNextWaits)
                            late();
                        if (seen >= 2 && row.nextAnswered)
                            testing::Send(
                                far, testing::IcmpMessage(0, 0, request->first, request->second),
                                kNearValue);
                    }
                });
                std::array<ProbeRun, 2> runs{Probe("192.0.2.2")};
                for (int wait = 0; seen < 1 && wait < 1000; ++wait)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (!row.whileNextWaits) {
                    late();
                    // The kernel hands it to the raw socket, then at once to the echo's.
                    pollfd arrived{near, POLLIN, 0};
                    poll(&arrived, 1, 10000);
                }
                // An answer that came too late on a busy machine is asked for again.
                for (int tries = 0; tries < 5; ++tries) {
                    runs[1] = Probe("192.0.2.2");
                    if (!row.nextAnswered || runs[1].reply.Status != 11010)
                        break;
                }
                return runs;
            },
            ping);
        close(far);
        close(near);
        EXPECT_EQ(probes[0].reply.Status, 11010);
        EXPECT_EQ(probes[1].reply.Status, row.nextAnswered ? 0 : 11010);
        EXPECT_EQ(probes[1].reply.Address, row.nextAnswered ? kFarValue : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sockets, NamespaceEcho, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PingSocket" : "RawSocket"; });

} // namespace
} // namespace tarnwick

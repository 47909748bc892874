// Real echoes and their failures between two throw-away network namespaces, through the whole
// probe, over both kinds of ICMP socket and over neither.
#include "engine/EchoProbe.h"

#include "support/Fakes.h"
#include "support/NetworkNamespaces.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tarnwick {
namespace {

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
    run.result = PingAddress(addressText, run.reply, SystemEchoServices(messages));
    run.milliseconds = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
    run.messagesShown = messages.shown.size();
    run.openFailure = platform::SystemIcmpService().LastOpenFailure();
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

// false: a raw socket (ping sockets off, CAP_NET_RAW kept); true: a ping socket (ping sockets
// on, the probe run as nobody without CAP_NET_RAW, so a raw socket cannot be what answered).
class NamespaceEcho : public ::testing::TestWithParam<bool> {};

TEST_P(NamespaceEcho, EachOutcomeGivesItsStatus) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    const bool ping = GetParam();
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(ping)) << "could not set up the namespaces";
    const auto probe = [&pair](const char* address, bool withoutRawSockets) {
        const std::optional<ProbeRun> run = testing::RunInNamespace<ProbeRun>(
            pair.Near(), withoutRawSockets, [address] { return Probe(address); });
        EXPECT_TRUE(run.has_value()) << "the probe's child process failed";
        return run.value_or(ProbeRun{});
    };
    for (const EchoRow& row : kRows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(pair.SetFarEchoVerdict(row.farVerdict));
        const ProbeRun run = probe(row.address, ping);
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
    ASSERT_TRUE(pair.AllowPingSockets(false));
    const ProbeRun refused = probe("192.0.2.2", true);
    EXPECT_EQ(refused.reply.Status, 11050);
    EXPECT_EQ(refused.result, -11050);
    EXPECT_EQ(refused.openFailure, platform::IcmpOpenFailure::NotPermitted);
}

INSTANTIATE_TEST_SUITE_P(Sockets, NamespaceEcho, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PingSocket" : "RawSocket"; });

} // namespace
} // namespace tarnwick

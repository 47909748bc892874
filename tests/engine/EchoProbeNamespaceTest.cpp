// Real echo failures between two throw-away network namespaces, through the whole probe,
// over both kinds of ICMP socket and over neither.
#include "engine/EchoProbe.h"

#include "support/NetworkNamespaces.h"
#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

namespace tarnwick {
namespace {

using testing::NamespacePair;

constexpr std::int32_t kFarAddressValue = 33685696;  // 192.0.2.2
constexpr std::int32_t kNearAddressValue = 16908480; // 192.0.2.1

// What the probe in the near namespace saw; copied out of the child as bytes.
struct ProbeRun {
    EchoReply reply;
    std::int32_t result;
    std::size_t messagesShown;
    long long elapsedMilliseconds;
};

ProbeRun Probe(const char* addressText) {
    testing::RecordingMessageDialog messages;
    ProbeRun run{};
    const auto start = std::chrono::steady_clock::now();
    run.result = PingAddress(addressText, run.reply, SystemEchoServices(messages));
    run.elapsedMilliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
    run.messagesShown = messages.shown.size();
    return run;
}

enum class SocketKind { Raw, Ping };

void PrintTo(SocketKind kind, std::ostream* out) {
    *out << (kind == SocketKind::Raw ? "raw socket" : "ping socket");
}

// Raw: ping sockets off, CAP_NET_RAW kept. Ping: ping sockets on, CAP_NET_RAW dropped, so
// a raw socket could not be what answered.
class NamespaceEcho : public ::testing::TestWithParam<SocketKind> {
protected:
    void SetUp() override {
        if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        pair_.emplace();
        ASSERT_TRUE(pair_->Ready()) << "could not set up the namespaces";
        ASSERT_TRUE(pair_->AllowPingSockets(GetParam() == SocketKind::Ping));
    }

    ProbeRun ProbeFromNear(const char* addressText) {
        const std::optional<ProbeRun> run =
            testing::RunInNamespace<ProbeRun>(pair_->Near(), GetParam() == SocketKind::Ping,
                                              [addressText] { return Probe(addressText); });
        EXPECT_TRUE(run.has_value()) << "the probe's child process failed";
        return run.value_or(ProbeRun{});
    }

    std::optional<NamespacePair> pair_;
};

TEST_P(NamespaceEcho, AnsweringHostReplies) {
    const ProbeRun run = ProbeFromNear("192.0.2.2");
    EXPECT_EQ(run.reply.Status, 0);
    EXPECT_EQ(run.reply.Address, kFarAddressValue);
    EXPECT_EQ(run.reply.DataSize, 9);
    EXPECT_EQ(std::string(run.reply.Data), "Echo This");
    EXPECT_EQ(run.result, run.reply.RoundTripTime);
    EXPECT_EQ(run.reply.Ttl, 64);
    EXPECT_EQ(run.messagesShown, 0u);
}

TEST_P(NamespaceEcho, DroppedEchoTimesOutAfterTheTimeout) {
    ASSERT_TRUE(pair_->SetFarEchoVerdict("drop"));
    const ProbeRun run = ProbeFromNear("192.0.2.2");
    EXPECT_EQ(run.reply.Status, 11010);
    EXPECT_EQ(run.result, -11010);
    EXPECT_EQ(run.reply.DataSize, 0);
    EXPECT_GE(run.elapsedMilliseconds, 199);
    EXPECT_LT(run.elapsedMilliseconds, 1500);
    EXPECT_EQ(run.messagesShown, 0u);
}

struct RejectCase {
    const char* name;
    const char* icmpType;
    std::int32_t status;
};

constexpr RejectCase kRejects[] = {
    {"NetUnreachable", "net-unreachable", 11002},
    {"HostUnreachable", "host-unreachable", 11003},
    {"ProtocolUnreachable", "prot-unreachable", 11004},
    {"PortUnreachable", "port-unreachable", 11005},
    {"AdministrativelyProhibited", "admin-prohibited", 11003},
    {"FragmentationNeeded", "frag-needed", 11009},
};

TEST_P(NamespaceEcho, RejectionGivesItsStatusAndTheReportingHost) {
    for (const RejectCase& reject : kRejects) {
        SCOPED_TRACE(reject.name);
        ASSERT_TRUE(
            pair_->SetFarEchoVerdict(std::string("reject with icmp type ") + reject.icmpType));
        const ProbeRun run = ProbeFromNear("192.0.2.2");
        EXPECT_EQ(run.reply.Status, reject.status);
        EXPECT_EQ(run.result, -reject.status);
        EXPECT_EQ(run.reply.Address, kFarAddressValue);
        EXPECT_EQ(run.reply.DataSize, 0);
        EXPECT_LT(run.elapsedMilliseconds, 200);
    }
}

TEST_P(NamespaceEcho, AddressWithoutARouteIsNetUnreachableAtOnce) {
    // 198.51.100.7 is routed nowhere inside the near namespace: nothing is sent.
    const ProbeRun run = ProbeFromNear("198.51.100.7");
    EXPECT_EQ(run.reply.Status, 11002);
    EXPECT_EQ(run.result, -11002);
    EXPECT_LT(run.elapsedMilliseconds, 200);
}

TEST_P(NamespaceEcho, BroadcastAddressIsABadDestination) {
    // Sockets may not broadcast unless asked to; we never ask.
    const ProbeRun run = ProbeFromNear("192.0.2.255");
    EXPECT_EQ(run.reply.Status, 11018);
    EXPECT_EQ(run.result, -11018);
}

TEST_P(NamespaceEcho, OwnAddressReplies) {
    const ProbeRun run = ProbeFromNear("192.0.2.1");
    EXPECT_EQ(run.reply.Status, 0);
    EXPECT_EQ(run.reply.Address, kNearAddressValue);
}

INSTANTIATE_TEST_SUITE_P(Sockets, NamespaceEcho,
                         ::testing::Values(SocketKind::Raw, SocketKind::Ping),
                         [](const auto& info) {
                             return info.param == SocketKind::Raw ? "RawSocket" : "PingSocket";
                         });

TEST(NamespaceEchoWithoutPrivilege, NoSocketKindIsAGeneralFailureNeverASuccess) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready()) << "could not set up the namespaces";
    ASSERT_TRUE(pair.AllowPingSockets(false));
    const std::optional<ProbeRun> run =
        testing::RunInNamespace<ProbeRun>(pair.Near(), true, [] { return Probe("192.0.2.2"); });
    ASSERT_TRUE(run.has_value()) << "the probe's child process failed";
    EXPECT_EQ(run->reply.Status, 11050);
    EXPECT_EQ(run->result, -11050);
    EXPECT_EQ(run->reply.DataSize, 0);
    EXPECT_EQ(run->messagesShown, 0u);
}

} // namespace
} // namespace tarnwick

// The echo probe on a raw socket against a hostile peer in a namespace of its own (replies and
// errors that are not ours, cut short or with bad checksums) while another process floods the
// probe's namespace with echo traffic: every probe must report only its own answer.
#include "engine/EchoProbe.h"

#include "support/Fakes.h"
#include "support/IcmpPeer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>

#include <random>

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::ErrorQuotingRequest;
using testing::IcmpMessage;
using testing::NamespacePair;
using testing::SeenRequest;

constexpr std::uint32_t kFarValue = 33685696; // 192.0.2.2
const Bytes kEchoThat{'E', 'c', 'h', 'o', ' ', 'T', 'h', 'a', 't'};

// Everything a careless probe might take for its answer: others' replies and errors, ours
// with a bad checksum or cut short; none of it says "Echo This". Then our reply.
std::vector<Bytes> JunkThenReply(const SeenRequest& request) {
    const std::uint16_t id = request.identifier, seq = request.sequence;
    Bytes badChecksum = IcmpMessage(0, 0, id, seq, kEchoThat);
    badChecksum[3] ^= 0xFF;
    Bytes cut = IcmpMessage(0, 0, id, seq);
    cut.resize(7);
    return {IcmpMessage(0, 0, id ^ 0x5A5A, seq, kEchoThat),
            IcmpMessage(0, 0, id, seq - 1, kEchoThat),
            IcmpMessage(8, 0, id, seq, kEchoThat),
            IcmpMessage(42, 0, id, seq, kEchoThat),
            badChecksum,
            testing::WithChecksum(cut),
            ErrorQuotingRequest(3, 1, request.source, request.destination, id ^ 0x5A5A, seq),
            ErrorQuotingRequest(11, 0, request.source, request.destination, id, seq + 1),
            ErrorQuotingRequest(3, 3, request.source, 0x63020C0, id, seq),
            IcmpMessage(0, 0, id, seq)};
}

// What the probes in the near namespace saw; copied out of the child as bytes.
struct ProbeRun {
    int probes, wrong;
};

// Raw socket in the probe (no ping sockets); only the scripted peer answers on the far side,
// with all its junk before our reply: a probe that took any of it reports another status,
// address or text.
TEST(HostilePeer, EveryProbeReportsOnlyItsOwnAnswerAmongJunkAndNoise) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false) &&
                pair.InFar("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    testing::IcmpPeer peer(pair.Far(), [](const SeenRequest& request) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // let noise arrive meanwhile
        return JunkThenReply(request);
    });

    // Echo requests, forged replies and forged errors to 127.0.0.1 in the probe's namespace,
    // with identifiers of their own, about 4,000 a second.
    auto* sent = new (mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE,
                           MAP_SHARED | MAP_ANONYMOUS, -1, 0)) std::atomic<long>(0);
    const pid_t flood = fork();
    if (flood == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = testing::EnterNamespace(pair.Near())
                            ? socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)
                            : -1;
        const sockaddr_in loopback{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        std::mt19937 random(1);
        for (auto next = std::chrono::steady_clock::now(); out >= 0;
             std::this_thread::sleep_until(next)) {
            for (int i = 0; i < 4; ++i) {
                const auto id = static_cast<std::uint16_t>(random());
                const auto seq = static_cast<std::uint16_t>(0x4000 + random() % 0x8000);
                const Bytes message = random() % 3
                                          ? IcmpMessage(random() % 2 ? 0 : 8, 0, id, seq, kEchoThat)
                                          : ErrorQuotingRequest(3, 1, 16777343, 16777343, id, seq);
                *sent += sendto(out, message.data(), message.size(), 0,
                                reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) > 0;
            }
            // No bursts to catch up after the process was kept waiting.
            next = std::max(next + std::chrono::milliseconds(1),
                            std::chrono::steady_clock::now() - std::chrono::milliseconds(2));
        }
        _exit(1);
    }
    for (int wait = 0; *sent < 100 && wait < 1000; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const long before = *sent;
    // At least 300 probes, and on until the noise during them is several packets a probe.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const std::optional<ProbeRun> run = testing::RunInNamespace<ProbeRun>(pair.Near(), false, [&] {
        testing::RecordingMessageDialog messages;
        ProbeRun seen{};
        for (; seen.probes < 300 ||
               (*sent - before < 4L * seen.probes && std::chrono::steady_clock::now() < giveUp);
             ++seen.probes) {
            EchoReply reply{};
            const std::int32_t result =
                PingAddress(NamespacePair::kFarAddress, reply, SystemEchoServices(messages));
            seen.wrong += reply.Status != 0 || result != reply.RoundTripTime ||
                          static_cast<std::uint32_t>(reply.Address) != kFarValue ||
                          std::memcmp(reply.Data, "Echo This", 10) != 0;
        }
        return seen;
    });
    const long noise = *sent - before;
    kill(flood, SIGKILL);
    waitpid(flood, nullptr, 0);
    ASSERT_TRUE(run.has_value()) << "the probe's child process failed";
    EXPECT_EQ(run->wrong, 0) << "of " << run->probes << " probes";
    EXPECT_EQ(peer.requestsSeen, run->probes);
    EXPECT_GE(noise, 4L * run->probes) << "too little noise to prove anything";
}

} // namespace
} // namespace tarnwick

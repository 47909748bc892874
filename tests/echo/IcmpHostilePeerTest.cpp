// The echo probe on the raw socket kept from the program's start-up, in namespaces of its own.
// A hostile peer sends the probe junk before each reply (replies and errors that are not ours,
// cut short or with bad checksums): every probe must report only its own answer. Others' ICMP
// traffic to the host must not even be queued on the socket.
#include "engine/EchoProbe.h"

#include "support/Fakes.h"
#include "support/IcmpPeer.h"
#include "support/NetworkNamespaces.h"
#include "support/SystemEcho.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>

namespace tarnwick {
namespace {

using testing::NamespacePair;

constexpr std::uint32_t kFarValue = 33685696;  // 192.0.2.2
constexpr std::uint32_t kNearValue = 16908480; // 192.0.2.1

// No ping sockets; only the peer answers on the far side. A probe that timed out was late, which
// a busy machine may make it; taking anything but its own answer is wrong.
TEST(HostilePeer, EveryProbeReportsOnlyItsOwnAnswerAmongJunk) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false) &&
                pair.InFar("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    // The far host, on a thread with a raw socket of its namespace.
    const int far = testing::RawSocketIn(pair.Far());
    ASSERT_GE(far, 0);
    std::atomic<int> requestsSeen = 0;
    std::jthread peer([&](std::stop_token stop) {
        for (std::uint8_t in[4096]; !stop.stop_requested();) {
            pollfd waiting{far, POLLIN, 0};
            const auto request = poll(&waiting, 1, 20) > 0
                                     ? testing::EchoThisRequest(in, recv(far, in, sizeof in, 0))
                                     : std::nullopt;
            if (!request)
                continue;
            ++requestsSeen;
            // The far host's kernel ignores echoes: this is all the probe gets from it.
            const auto [id, seq] = *request;
            for (const testing::Bytes& message : testing::Junk(kNearValue, kFarValue, id, seq))
                testing::Send(far, message, kNearValue);
            testing::Send(far, testing::IcmpMessage(0, 0, id, seq), kNearValue);
        }
    });
    constexpr int kProbes = 300;
    struct Counts {
        int wrong, sent;
    };
    const std::optional<Counts> counts = testing::RunInNamespace<Counts>(pair.Near(), false, [] {
        testing::StartAsUser();
        testing::RecordingMessageDialog messages;
        Counts counts{};
        for (int probe = 0; probe < kProbes; ++probe) {
            EchoReply reply{};
            const std::int32_t result = testing::PingUnlessLate(
                NamespacePair::kFarAddress, reply, SystemEchoServices(messages), &counts.sent);
            counts.wrong += reply.Status != 0 || result != reply.RoundTripTime ||
                            static_cast<std::uint32_t>(reply.Address) != kFarValue ||
                            std::memcmp(reply.Data, "Echo This", 10) != 0;
        }
        return counts;
    });
    peer.request_stop();
    peer.join();
    close(far);
    ASSERT_TRUE(counts) << "the probe's child process failed";
    EXPECT_EQ(counts->wrong, 0) << "of " << kProbes << " probes";
    // One request for each ping sent; some may still be on their way to the peer.
    EXPECT_LE(requestsSeen, counts->sent);
}

// Guards the kept socket's filter: between two pings 10,000 replies, requests and errors about
// requests, all with identifiers other than its own, reach the host. None is queued on it
// (FIONREAD 0), and both pings are answered.
TEST(KeptRawSocket, QueuesNoneOfOthersTrafficBetweenPings) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false));
    const int far = testing::RawSocketIn(pair.Far());
    ASSERT_GE(far, 0);
    const auto run = testing::RunInNamespace<std::array<int, 3>>(pair.Near(), false, [far] {
        // Ping sockets are closed, so the start-up's first descriptor is the kept raw socket.
        const int kept = open("/dev/null", O_RDONLY);
        close(kept);
        testing::StartAsUser();
        testing::RecordingMessageDialog messages;
        std::array<int, 3> results{-1, -1, -1}; // first status, bytes queued, second status
        EchoReply reply{};
        testing::PingUnlessLate(NamespacePair::kFarAddress, reply, SystemEchoServices(messages));
        results[0] = reply.Status;
        // The far side saw the request: its identifier is the one the noise avoids.
        std::uint8_t in[4096];
        std::optional<std::pair<std::uint16_t, std::uint16_t>> ours;
        for (long size; !ours && (size = recv(far, in, sizeof in, MSG_DONTWAIT)) > 0;)
            ours = testing::EchoThisRequest(in, size);
        for (int i = 0; ours && i < 10000; ++i) {
            const auto id = static_cast<std::uint16_t>(ours->first + 1 + i % 0xFFFE);
            const auto next = static_cast<std::uint16_t>(ours->second + 1);
            testing::Send(far,
                          i % 10
                              ? testing::IcmpMessage(i % 3 ? 0 : 8, 0, id, next)
                              : testing::ErrorQuotingRequest(3, 1, kNearValue, kFarValue, id, next),
                          kNearValue);
        }
        if (ours)
            ioctl(kept, FIONREAD, &results[1]);
        testing::PingUnlessLate(NamespacePair::kFarAddress, reply, SystemEchoServices(messages));
        results[2] = reply.Status;
        return results;
    });
    close(far);
    EXPECT_EQ(run, (std::array<int, 3>{0, 0, 0}));
}

} // namespace
} // namespace tarnwick

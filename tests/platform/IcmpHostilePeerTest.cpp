// The echo probe on a raw socket against a hostile peer in a namespace of its own. Before each
// reply the peer floods the probe's namespace with noise (echo requests, forged replies and
// forged errors to 127.0.0.1 with identifiers of their own) and sends the probe junk (replies
// and errors that are not ours, cut short or with bad checksums): every probe must report only
// its own answer.
#include "engine/EchoProbe.h"

#include "support/Fakes.h"
#include "support/IcmpPeer.h"
#include "support/NetworkNamespaces.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::NamespacePair;

constexpr std::uint32_t kFarValue = 33685696;  // 192.0.2.2
constexpr std::uint32_t kNearValue = 16908480; // 192.0.2.1
constexpr std::uint32_t kLoopback = 16777343;  // 127.0.0.1

bool Send(int descriptor, const Bytes& message, std::uint32_t to) {
    const sockaddr_in address{AF_INET, 0, {to}, {}};
    return sendto(descriptor, message.data(), message.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address) > 0;
}

// Raw socket in the probe (no ping sockets); only the peer answers on the far side.
TEST(HostilePeer, EveryProbeReportsOnlyItsOwnAnswerAmongJunkAndNoise) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false) &&
                pair.InFar("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    // The far host, on a thread with a raw socket in each namespace (a socket stays in the
    // namespace it was opened in).
    std::atomic<int> requestsSeen = 0, noiseSent = 0;
    std::jthread peer([&](std::stop_token stop) {
        int noise = -1, far = -1;
        if (testing::EnterNamespace(pair.Near()))
            noise = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (testing::EnterNamespace(pair.Far()))
            far = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        std::mt19937 random(1);
        for (std::uint8_t in[4096]; noise >= 0 && far >= 0 && !stop.stop_requested();) {
            pollfd waiting{far, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0)
                continue;
            const ssize_t size = recv(far, in, sizeof in, 0);
            const std::size_t at = std::size_t{in[0] & 0x0Fu} * 4; // the IP header's length
            if (size != static_cast<ssize_t>(at + 17) || in[at] != 8 ||
                std::memcmp(in + at + 8, "Echo This", 9) != 0)
                continue;
            ++requestsSeen; // before the answer, which may end the probe at once
            // The same, with an identifier and sequence of their own, between 127.0.0.1 and itself.
            const auto other = static_cast<std::uint16_t>(random());
            for (const Bytes& message : testing::Junk(kLoopback, kLoopback, other, other ^ 0x8000))
                noiseSent += Send(noise, message, htonl(INADDR_LOOPBACK));
            // The far host's kernel ignores echoes: this is all the probe gets from it.
            const std::uint16_t id = in[at + 4] << 8 | in[at + 5],
                                seq = in[at + 6] << 8 | in[at + 7];
            for (const Bytes& message : testing::Junk(kNearValue, kFarValue, id, seq))
                Send(far, message, kNearValue);
            Send(far, testing::IcmpMessage(0, 0, id, seq), kNearValue);
        }
        close(noise);
        close(far);
    });
    constexpr int kProbes = 300;
    const std::optional<int> wrong = testing::RunInNamespace<int>(pair.Near(), false, [] {
        testing::RecordingMessageDialog messages;
        int wrong = 0;
        for (int probe = 0; probe < kProbes; ++probe) {
            EchoReply reply{};
            const std::int32_t result =
                PingAddress(NamespacePair::kFarAddress, reply, SystemEchoServices(messages));
            wrong += reply.Status != 0 || result != reply.RoundTripTime ||
                     static_cast<std::uint32_t>(reply.Address) != kFarValue ||
                     std::memcmp(reply.Data, "Echo This", 10) != 0;
        }
        return wrong;
    });
    EXPECT_EQ(wrong, 0) << "of " << kProbes << " probes, or the probe's child process failed";
    EXPECT_EQ(requestsSeen, kProbes);
    EXPECT_EQ(noiseSent, 9 * kProbes);
}

} // namespace
} // namespace tarnwick

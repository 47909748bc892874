// The echo probe on the raw socket kept from the program's start-up, against a hostile peer in a
// namespace of its own. Before each reply the peer floods the probe's namespace with noise (echo
// requests, forged replies and forged errors to 127.0.0.1 with identifiers of their own) and
// sends the probe junk (replies and errors that are not ours, cut short or with bad checksums):
// every probe must report only its own answer. Others' traffic must not even be queued on it.
#include "engine/EchoProbe.h"

#include "support/Fakes.h"
#include "support/IcmpPeer.h"
#include "support/NetworkNamespaces.h"
#include "support/SystemEcho.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/ioctl.h>
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

// The kept raw socket in the probe (no ping sockets); only the peer answers on the far side. A
// probe that timed out was late, which a busy machine may make it; taking anything but its own
// answer is wrong.
TEST(HostilePeer, EveryProbeReportsOnlyItsOwnAnswerAmongJunkAndNoise) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false) &&
                pair.InFar("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    // The far host, on a thread with a raw socket in each namespace.
    const int noise = testing::RawSocketIn(pair.Near()), far = testing::RawSocketIn(pair.Far());
    ASSERT_TRUE(noise >= 0 && far >= 0);
    std::atomic<int> requestsSeen = 0, noiseSent = 0;
    std::jthread peer([&](std::stop_token stop) {
        std::mt19937 random(1);
        for (std::uint8_t in[4096]; !stop.stop_requested();) {
            pollfd waiting{far, POLLIN, 0};
            const auto request = poll(&waiting, 1, 20) > 0
                                     ? testing::EchoThisRequest(in, recv(far, in, sizeof in, 0))
                                     : std::nullopt;
            if (!request)
                continue;
            ++requestsSeen;
            // The same, with an identifier and sequence of their own, between 127.0.0.1 and itself.
            const auto other = static_cast<std::uint16_t>(random());
            for (const Bytes& message : testing::Junk(kLoopback, kLoopback, other, other ^ 0x8000))
                noiseSent += testing::Send(noise, message, htonl(INADDR_LOOPBACK));
            // The far host's kernel ignores echoes: this is all the probe gets from it.
            const auto [id, seq] = *request;
            for (const Bytes& message : testing::Junk(kNearValue, kFarValue, id, seq))
                testing::Send(far, message, kNearValue);
            testing::Send(far, testing::IcmpMessage(0, 0, id, seq), kNearValue);
        }
    });
    constexpr int kProbes = 300;
    struct Counts {
        int wrong, sent;
    };
    const std::optional<Counts> counts = testing::RunInNamespace<Counts>(pair.Near(), false, [] {
        if (!testing::StartAsUser())
            _exit(3);
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
    close(noise);
    close(far);
    ASSERT_TRUE(counts) << "the probe's child process failed";
    EXPECT_EQ(counts->wrong, 0) << "of " << kProbes << " probes";
    // One request for each ping sent; some may still be on their way to the peer.
    EXPECT_LE(requestsSeen, counts->sent);
    EXPECT_EQ(noiseSent, 9 * requestsSeen);
}

// The raw ICMP socket of this process other than those given, or -1.
int OtherRawIcmpSocket(int first, int second) {
    for (int descriptor = 0; descriptor < 1024; ++descriptor) {
        int type = 0, protocol = 0;
        socklen_t size = sizeof type;
        if (descriptor != first && descriptor != second &&
            getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_RAW &&
            getsockopt(descriptor, SOL_SOCKET, SO_PROTOCOL, &protocol, &size) == 0 &&
            protocol == IPPROTO_ICMP)
            return descriptor;
    }
    return -1;
}

// Guards the kept socket's filter: between two pings, 10,000 echo replies and errors about echoes
// with other identifiers reach the host; none is queued on it, and the next ping is right.
TEST(KeptRawSocket, QueuesNoneOfOthersTrafficBetweenPings) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false));
    // The sender, and a witness on the host that holds everything it is sent.
    const int far = testing::RawSocketIn(pair.Far()), near = testing::RawSocketIn(pair.Near());
    const int room = 64 << 20;
    ASSERT_TRUE(far >= 0 && near >= 0 &&
                setsockopt(near, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) == 0);
    struct Run {
        int queued, wrong;
    };
    const std::optional<Run> run = testing::RunInNamespace<Run>(pair.Near(), false, [&] {
        if (!testing::StartAsUser())
            _exit(3);
        testing::RecordingMessageDialog messages;
        Run run{-1, 0};
        const auto ping = [&] {
            EchoReply reply{};
            testing::PingUnlessLate(NamespacePair::kFarAddress, reply,
                                    SystemEchoServices(messages));
            run.wrong +=
                reply.Status != 0 || static_cast<std::uint32_t>(reply.Address) != kFarValue;
        };
        ping();
        // The far side's raw socket saw the request: its identifier is the one to avoid.
        std::uint8_t in[4096];
        std::optional<std::pair<std::uint16_t, std::uint16_t>> ours;
        for (long size; !ours && (size = recv(far, in, sizeof in, MSG_DONTWAIT)) > 0;)
            ours = testing::EchoThisRequest(in, size);
        if (!ours)
            _exit(4);
        // Replies, and errors about requests, with every identifier but ours; the next sequence.
        const auto sequence = static_cast<std::uint16_t>(ours->second + 1);
        for (int i = 0; i < 10000; ++i) {
            const auto other = static_cast<std::uint16_t>(ours->first + 1 + i % 0xFFFE);
            testing::Send(
                far,
                i % 10 ? testing::IcmpMessage(0, 0, other, sequence)
                       : testing::ErrorQuotingRequest(3, 1, kNearValue, kFarValue, other, sequence),
                kNearValue);
        }
        // Once the witness has the last one, the kept socket was offered every one.
        const Bytes last = testing::IcmpMessage(0, 0, ours->first ^ 1, 0, {'e', 'n', 'd'});
        testing::Send(far, last, kNearValue);
        for (int wait = 0; wait < 1000; ++wait) {
            pollfd arrived{near, POLLIN, 0};
            const long size = poll(&arrived, 1, 10) > 0 ? recv(near, in, sizeof in, 0) : 0;
            if (size == 20 + static_cast<long>(last.size()) &&
                std::memcmp(in + 20, last.data(), last.size()) == 0)
                break;
        }
        ioctl(OtherRawIcmpSocket(far, near), FIONREAD, &run.queued);
        ping();
        return run;
    });
    close(far);
    close(near);
    ASSERT_TRUE(run) << "the probe's child process failed";
    EXPECT_EQ(run->queued, 0);
    EXPECT_EQ(run->wrong, 0);
}

} // namespace
} // namespace tarnwick

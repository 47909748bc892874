// The echo program in namespaces of its own, against a hostile peer that sends junk before each
// reply (replies and errors that are not ours, cut short or with bad checksums): every echo must
// report only its own answer. Others' ICMP traffic to the host must not even be queued on its
// raw socket.
#include "support/EchoProgram.h"
#include "support/IcmpPeer.h"
#include "support/NamedRows.h"
#include "support/NetworkNamespaces.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>

namespace tarnwick::echo {
namespace {

using testing::EchoProgram;
using testing::NamespacePair;
using testing::PrintTo; // rows print by name

constexpr std::uint32_t kFarValue = 33685696;  // 192.0.2.2
constexpr std::uint32_t kNearValue = 16908480; // 192.0.2.1

struct SocketRow {
    const char* name;
    bool pingSockets;
    SocketKind socket;
};

class HostilePeer : public ::testing::TestWithParam<SocketRow> {};

// Only the peer answers on the far side. An echo that timed out was late, which a busy machine
// may make it; taking anything but its own answer is wrong.
TEST_P(HostilePeer, EveryEchoReportsOnlyItsOwnAnswerAmongJunk) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(GetParam().pingSockets) &&
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
            // The far host's kernel ignores echoes: this is all the program gets from it.
            const auto [id, seq] = *request;
            for (const testing::Bytes& message : testing::Junk(kNearValue, kFarValue, id, seq))
                testing::Send(far, message, kNearValue);
            testing::Send(far, testing::IcmpMessage(0, 0, id, seq), kNearValue);
        }
    });
    EchoProgram program({.asNobody = true, .granted = true, .namedNetwork = pair.Near().c_str()});
    ASSERT_TRUE(program.Greeting());
    EXPECT_EQ(program.Greeting()->socket, GetParam().socket);
    constexpr int kEchoes = 300;
    int wrong = 0, sent = 0;
    for (int echo = 0; echo < kEchoes; ++echo) {
        const std::optional<testing::EchoAnswer> answer = program.EchoThis(kFarValue, &sent);
        std::uint32_t from = 0;
        if (answer)
            std::memcpy(&from, answer->record.data(), answer->record.size() >= 4 ? 4 : 0);
        wrong += !answer || answer->header.replies != 1 || answer->Status() != 0 ||
                 from != kFarValue || answer->Data() != "Echo This";
    }
    peer.request_stop();
    peer.join();
    close(far);
    EXPECT_EQ(wrong, 0) << "of " << kEchoes << " echoes";
    // One request for each echo sent; some may still be on their way to the peer.
    EXPECT_LE(requestsSeen, sent);
}

INSTANTIATE_TEST_SUITE_P(Sockets, HostilePeer,
                         ::testing::Values(SocketRow{"RawSocket", false, SocketKind::Raw},
                                           SocketRow{"PingSocket", true, SocketKind::Ping}),
                         testing::kRowName);

// Guards the raw socket's filter: between two echoes 10,000 replies, requests and errors about
// requests, all with identifiers other than its own, reach the host. None is queued on it
// (FIONREAD 0), and both echoes are answered.
TEST(RawSocketFilter, QueuesNoneOfOthersTrafficBetweenEchoes) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.AllowPingSockets(false));
    const int far = testing::RawSocketIn(pair.Far());
    ASSERT_GE(far, 0);
    EchoProgram program({.asNobody = true, .granted = true, .namedNetwork = pair.Near().c_str()});
    ASSERT_TRUE(program.Greeting());
    ASSERT_EQ(program.Greeting()->socket, SocketKind::Raw);
    const int socket = program.CopyOfDescriptor(program.SocketNumber());
    ASSERT_GE(socket, 0);
    std::array<int, 3> results{-1, -1, -1}; // first status, bytes queued, second status
    std::optional<testing::EchoAnswer> answer = program.EchoThis(kFarValue);
    results[0] = answer ? answer->Status() : -1;
    // The far side saw the request: its identifier is the one the noise avoids.
    std::uint8_t in[4096];
    std::optional<std::pair<std::uint16_t, std::uint16_t>> ours;
    for (long size; !ours && (size = recv(far, in, sizeof in, MSG_DONTWAIT)) > 0;)
        ours = testing::EchoThisRequest(in, size);
    for (int i = 0; ours && i < 10000; ++i) {
        const auto id = static_cast<std::uint16_t>(ours->first + 1 + i % 0xFFFE);
        const auto next = static_cast<std::uint16_t>(ours->second + 1);
        testing::Send(far,
                      i % 10 ? testing::IcmpMessage(i % 3 ? 0 : 8, 0, id, next)
                             : testing::ErrorQuotingRequest(3, 1, kNearValue, kFarValue, id, next),
                      kNearValue);
    }
    if (ours)
        ioctl(socket, FIONREAD, &results[1]);
    answer = program.EchoThis(kFarValue);
    results[2] = answer ? answer->Status() : -1;
    close(socket);
    close(far);
    EXPECT_EQ(results, (std::array<int, 3>{0, 0, 0}));
}

// Guards that a program whose reader is gone stops waiting: an echo to a host that drops it may
// wait 60 seconds, but the program ends well before (at most 30 s counts as not waiting), with
// its input still open.
TEST(ReaderGone, EndsTheProgramDuringAnEcho) {
    if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    NamespacePair pair;
    ASSERT_TRUE(pair.Ready() && pair.SetFarEchoVerdict("drop"));
    EchoProgram program({.namedNetwork = pair.Near().c_str()});
    ASSERT_TRUE(program.Greeting());
    ASSERT_TRUE(program.Send(EchoProgram::Frame(EchoProgram::Request(kFarValue, 60'000), "x")));
    program.CloseAnswers();
    EXPECT_EQ(program.WaitForExit(), 0);
}

} // namespace
} // namespace tarnwick::echo

// The echo program in namespaces of its own: the status each outcome of an echo gives, through
// each socket kind, and against a hostile peer that sends junk before each reply (replies and
// errors that are not ours, cut short or with bad checksums) every echo must report only its own
// answer. Others' ICMP traffic to the host must not even be queued on its raw socket.
#include "echo/Contract.h"
#include "support/EchoProgram.h"
#include "support/IcmpPeer.h"
#include "support/NamedRows.h"
#include "support/NetworkNamespaces.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <tuple>

namespace tarnwick::echo {
namespace {

using namespace std::chrono_literals;
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

// A namespace pair whose near side opens ping sockets to every group or to none; the echo
// program runs there as nobody, granted cap_net_raw+p, so the row's socket kind serves.
class InNamespaces : public ::testing::TestWithParam<SocketRow> {
protected:
    void SetUp() override {
        if (const std::string reason = NamespacePair::Unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        pair.emplace();
        ASSERT_TRUE(pair->Ready() && pair->AllowPingSockets(GetParam().pingSockets));
        program.emplace(testing::EchoProgramStart{
            .asNobody = true, .granted = true, .namedNetwork = pair->Near().c_str()});
        ASSERT_TRUE(program->Greeting());
        ASSERT_EQ(program->Greeting()->socket, GetParam().socket);
    }
    std::optional<NamespacePair> pair;
    std::optional<EchoProgram> program;
};

struct OutcomeRow {
    const char* name;
    const char* farVerdict; // nft verdict on the far side's echo requests; "" answers
    std::uint32_t destination;
    std::int32_t status;
    std::uint32_t reporter; // the record's address
};

// Each row guards one mapping of what the network did to the status the user sees: a reply
// from the asked host, the 200 ms timeout, ICMP errors with their reporting host (the rest of
// the error table is IcmpPacketTest's), local errors of sending (no route, broadcast). Never
// status 0 for a failure.
constexpr OutcomeRow kOutcomeRows[] = {
    {"Answers", "", kFarValue, 0, kFarValue},
    {"OwnAddressAnswers", "", kNearValue, 0, kNearValue},
    {"DroppedTimesOut", "drop", kFarValue, 11010, 0},
    {"NetUnreachable", "reject with icmp type net-unreachable", kFarValue, 11002, kFarValue},
    {"HostUnreachable", "reject with icmp type host-unreachable", kFarValue, 11003, kFarValue},
    {"FragmentationNeeded", "reject with icmp type frag-needed", kFarValue, 11009, kFarValue},
    {"NoRoute", "", 124007366, 11002, 0},    // 198.51.100.7
    {"Broadcast", "", 4278321344, 11018, 0}, // 192.0.2.255
};

TEST_P(InNamespaces, EachOutcomeGivesItsStatus) {
    using Clock = std::chrono::steady_clock;
    for (const OutcomeRow& row : kOutcomeRows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(pair->SetFarEchoVerdict(row.farVerdict));
        // On a busy machine an answer can come late, after 200 ms, and a timeout can end late:
        // such an echo is asked again; one that is wrong is not.
        const long long limit = row.status == 11010 ? 1500 : 200;
        std::optional<testing::EchoAnswer> answer;
        long long milliseconds = 0;
        for (int attempt = 0; attempt < 5 && (!answer || milliseconds >= limit ||
                                              (row.status != 11010 && answer->Status() == 11010));
             ++attempt) {
            const Clock::time_point start = Clock::now();
            ASSERT_TRUE(program->Send(EchoProgram::Frame(row.destination, 200, "Echo This")));
            answer = program->Answer();
            milliseconds = (Clock::now() - start) / std::chrono::milliseconds(1);
        }
        ASSERT_TRUE(answer);
        EXPECT_EQ(
            std::tuple(answer->Status(), answer->Address(), answer->header.replies, answer->Data()),
            std::tuple(row.status, row.reporter, row.status == 0 ? 1u : 0u,
                       std::string(row.status == 0 ? "Echo This" : "")));
        EXPECT_GE(milliseconds, row.status == 11010 ? 199 : 0);
        EXPECT_LT(milliseconds, limit);
    }
}

// Only the peer answers on the far side. An echo that timed out was late, which a busy machine
// may make it; taking anything but its own answer is wrong. After each reply come a late error
// about the echo before it and that echo's reply again, left pending on the socket for the next
// echo to meet: the program keeps one socket for its life, and each echo has its own data.
TEST_P(InNamespaces, EveryEchoReportsOnlyItsOwnAnswerAmongAHostilePeersJunk) {
    ASSERT_TRUE(pair->InFar("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    // The far host, on a thread with a raw socket of its namespace.
    const int far = testing::RawSocketIn(pair->Far());
    ASSERT_GE(far, 0);
    std::atomic<int> requestsSeen = 0;
    std::jthread peer([&](std::stop_token stop) {
        for (testing::Bytes lateReply; !stop.stop_requested();) {
            const std::optional<testing::Heard> request = testing::Hear(far, 20);
            if (!request || request->type != 8)
                continue;
            ++requestsSeen;
            // The far host's kernel ignores echoes: this is all the program gets from it.
            const auto [type, id, seq, data] = *request;
            for (const testing::Bytes& message : testing::Junk(kNearValue, kFarValue, id, seq))
                testing::Send(far, message, kNearValue);
            testing::Send(far, testing::IcmpMessage(0, 0, id, seq, data), kNearValue);
            testing::Send(far,
                          testing::ErrorQuotingRequest(3, 1, kNearValue, kFarValue, id,
                                                       static_cast<std::uint16_t>(seq - 1)),
                          kNearValue);
            if (!lateReply.empty())
                testing::Send(far, lateReply, kNearValue);
            lateReply = testing::IcmpMessage(0, 0, id, seq, data);
        }
    });
    constexpr int kEchoes = 300;
    int wrong = 0, sent = 0;
    for (int echo = 0; echo < kEchoes; ++echo) {
        const std::string text = "Echo " + std::to_string(echo);
        const std::optional<testing::EchoAnswer> answer =
            program->Echo(text, kFarValue, 1000, &sent);
        wrong += !answer || answer->header.replies != 1 || answer->Status() != 0 ||
                 answer->Address() != kFarValue || answer->Data() != text;
    }
    peer.request_stop();
    peer.join();
    close(far);
    EXPECT_EQ(wrong, 0) << "of " << kEchoes << " echoes";
    // One request for each echo sent; some may still be on their way to the peer.
    EXPECT_LE(requestsSeen, sent);
}

// Guards the raw socket's filter (a ping socket's kernel matches its identifier): between two
// echoes 10,000 replies, requests and errors about requests, all with identifiers other than its
// own, reach the host. None is queued on its socket, and both echoes are answered.
TEST_P(InNamespaces, QueuesNoneOfOthersTrafficBetweenEchoes) {
    const int far = testing::RawSocketIn(pair->Far());
    ASSERT_GE(far, 0);
    const int socket = program->CopyOfDescriptor(program->SocketNumber());
    ASSERT_GE(socket, 0);
    std::array<int, 3> results{-1, -1, -1}; // first status, anything queued, second status
    std::optional<testing::EchoAnswer> answer = program->Echo("Echo This", kFarValue);
    results[0] = answer ? answer->Status() : -1;
    // The far side saw the request: its identifier is the one the noise avoids.
    std::optional<testing::Heard> ours;
    while ((ours = testing::Hear(far, 0)) && ours->data != testing::kEchoThis) {
    }
    for (int i = 0; ours && i < 10000; ++i) {
        const auto id = static_cast<std::uint16_t>(ours->id + 1 + i % 0xFFFE);
        const auto next = static_cast<std::uint16_t>(ours->sequence + 1);
        testing::Send(far,
                      i % 10 ? testing::IcmpMessage(i % 3 ? 0 : 8, 0, id, next)
                             : testing::ErrorQuotingRequest(3, 1, kNearValue, kFarValue, id, next),
                      kNearValue);
    }
    if (ours)
        results[1] = recv(socket, &results[1], 1, MSG_DONTWAIT | MSG_PEEK) >= 0 || errno != EAGAIN;
    answer = program->Echo("Echo This", kFarValue);
    results[2] = answer ? answer->Status() : -1;
    close(socket);
    close(far);
    EXPECT_EQ(results, (std::array<int, 3>{0, 0, 0}));
}

// Guards that a program whose reader is gone stops waiting: an echo to a host that drops it may
// wait 60 seconds, but the program ends well before (at most 30 s counts as not waiting), with
// its input still open.
TEST_P(InNamespaces, ReaderGoneEndsTheProgramDuringAnEcho) {
    ASSERT_TRUE(pair->SetFarEchoVerdict("drop"));
    ASSERT_TRUE(program->Send(EchoProgram::Frame(kFarValue, 60'000, "x")));
    program->CloseAnswers();
    EXPECT_EQ(program->WaitForExit(), 0);
}

// Guards a user's pace, as ping allows it (no closer than 2 ms): the program, run as nobody and
// asked for echoes with no time to wait for about a second, sends at most 500 a second to a
// silent host. N echoes 2 ms apart take (N - 1) x 2 ms at least: a busy machine sends fewer in
// the time, never more.
TEST_P(InNamespaces, SendsAtAUsersPace) {
    using Clock = std::chrono::steady_clock;
    ASSERT_TRUE(pair->SetFarEchoVerdict("drop"));
    const auto request = EchoProgram::Frame(kFarValue, 0, "Echo This");
    int sent = 0;
    const Clock::time_point start = Clock::now();
    for (; Clock::now() - start < 1s; ++sent) {
        ASSERT_TRUE(program->Send(request));
        const std::optional<testing::EchoAnswer> answer = program->Answer();
        ASSERT_EQ(answer ? answer->Status() : -1, 11010) << "not sent";
    }
    const double milliseconds = (Clock::now() - start) / 1.0ms;
    EXPECT_LE(sent, 1 + milliseconds / 2 * 1.05) << "in " << milliseconds << " ms";
}

// Guards that nothing but echo requests leaves the confined program, whatever code runs in it
// (a memory fault's payload): a library of the test's own, preloaded, acts at a send as the
// echo's data tells it. Each try ends the program (SIGSYS, or SIGSEGV writing a read-only page)
// and the far host hears nothing from it but echo requests. The program is started by root
// without a grant, since a granted one ignores LD_PRELOAD; it confines itself all the same.
TEST_P(InNamespaces, ATakeoverSendsNothingButEchoRequests) {
    const int far = testing::RawSocketIn(pair->Far()), near = testing::RawSocketIn(pair->Near());
    ASSERT_TRUE(far >= 0 && near >= 0);
    for (const std::string attempt :
         {"redirect from its own buffer", "rewrite its packet", "unprotect its packet"}) {
        SCOPED_TRACE(attempt);
        EchoProgram taken({.namedNetwork = pair->Near().c_str(),
                           .environment = {"LD_PRELOAD=" TARNWICK_TAKEOVER_LIBRARY,
                                           "ASAN_OPTIONS=verify_asan_link_order=0:handle_segv=0"}});
        ASSERT_EQ(taken.Greeting() ? taken.Greeting()->socket : SocketKind::None,
                  GetParam().socket);
        ASSERT_TRUE(taken.Echo("Echo This", kFarValue));
        ASSERT_TRUE(taken.Send(EchoProgram::Frame(kFarValue, 200, attempt)));
        EXPECT_FALSE(taken.Answer());
        const int exit = taken.EndInput();
        EXPECT_TRUE(exit == 128 + SIGSYS || exit == 128 + SIGSEGV) << "exit status " << exit;
        // Sent from the near side once the program is gone: whatever it sent arrives before.
        ASSERT_TRUE(
            testing::Send(near, testing::IcmpMessage(8, 0, 0, 0, {'e', 'n', 'd'}), kFarValue));
        std::set<int> types; // heard from the near side
        std::optional<testing::Heard> heard;
        while ((heard = testing::Hear(far, 30'000)) && heard->data != testing::Bytes{'e', 'n', 'd'})
            types.insert(heard->type);
        ASSERT_TRUE(heard) << "the marker never came";
        EXPECT_EQ(types, std::set<int>{8}) << "echo requests only, and the first echo's heard";
    }
    close(far);
    close(near);
}

INSTANTIATE_TEST_SUITE_P(Sockets, InNamespaces,
                         ::testing::Values(SocketRow{"RawSocket", false, SocketKind::Raw},
                                           SocketRow{"PingSocket", true, SocketKind::Ping}),
                         testing::kRowName);

} // namespace
} // namespace tarnwick::echo

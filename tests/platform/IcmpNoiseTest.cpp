// The echo probe on a raw socket while another process floods its namespace with echo
// traffic of its own: the probe must report only the reply to its own request. The peer
// answers after a few milliseconds, so that noise arrives while every probe waits.
#include "engine/AddressParser.h"
#include "engine/EchoProbe.h"

#include "support/IcmpCraft.h"
#include "support/IcmpPeer.h"
#include "support/NetworkNamespace.h"
#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::EchoMessage;
using testing::ErrorQuotingRequest;
using testing::JoinedNamespaces;
using testing::NetworkNamespace;
using testing::TextBytes;

constexpr std::int32_t kLoopbackValue = 16777343; // 127.0.0.1

// A forked process in the namespace that sends echo requests (which the kernel answers),
// forged echo replies and forged errors to 127.0.0.1, all with identifiers of its own, until
// it is stopped. Paced at about 4,000 packets a second: a faster flood overfills the probe's
// socket queue while a loaded machine keeps the probe off the processor, and the reply lost
// that way would make a timeout that says nothing about the probe.
class Flood {
public:
    explicit Flood(const NetworkNamespace& space) {
        void* shared = mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED)
            throw std::runtime_error("no shared counter");
        sent_ = new (shared) std::atomic<long>(0);
        child_ = fork();
        if (child_ < 0)
            throw std::runtime_error("fork failed");
        if (child_ == 0)
            _exit(Run(space));
    }
    ~Flood() {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
        munmap(sent_, sizeof(std::atomic<long>));
    }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    long sent() const { return sent_->load(); }

private:
    int Run(const NetworkNamespace& space) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
        if (!space.EnterFromThisThread())
            return 1;
        const int descriptor = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (descriptor < 0)
            return 1;
        sockaddr_in loopback{};
        loopback.sin_family = AF_INET;
        loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::mt19937 random(static_cast<unsigned>(getpid()));
        const Bytes payloads[] = {TextBytes("Echo That"), TextBytes("Noise"), Bytes(64, 'N')};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        auto next = std::chrono::steady_clock::now();
        while (next < deadline) {
            for (int i = 0; i < 4; ++i) {
                const auto id = static_cast<std::uint16_t>(random());
                // Sequences far from a fresh handle's: a matching identifier and sequence
                // is the probe's own reply by definition, whoever sends it.
                const auto seq = static_cast<std::uint16_t>(0x4000 + random() % 0x8000);
                const Bytes& payload = payloads[random() % 3];
                Bytes message;
                switch (random() % 3) {
                case 0:
                    message = EchoMessage(8, id, seq, payload);
                    break;
                case 1:
                    message = EchoMessage(0, id, seq, payload);
                    break;
                default:
                    message = ErrorQuotingRequest(3, 1, loopback.sin_addr.s_addr,
                                                  loopback.sin_addr.s_addr, id, seq);
                }
                if (sendto(descriptor, message.data(), message.size(), 0,
                           reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) > 0)
                    sent_->fetch_add(1);
            }
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            // No bursts to catch up after the process was kept waiting.
            next = std::max(next, std::chrono::steady_clock::now() - std::chrono::milliseconds(2));
        }
        return 0;
    }

    std::atomic<long>* sent_ = nullptr;
    pid_t child_ = -1;
};

constexpr char kNearAddress[] = "198.51.100.1";
constexpr char kFarAddress[] = "198.51.100.2";

// Answers every echo request after a short wait, with the request's own identity.
std::vector<Bytes> SlowAnswer(const testing::SeenRequest& request) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return {EchoMessage(0, request.identifier, request.sequence, TextBytes("Echo This"))};
}

class EchoUnderNoise : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = testing::NamespacesUnavailableReason())
            GTEST_SKIP() << *reason;
        try {
            namespaces_ = std::make_unique<JoinedNamespaces>("twn", kNearAddress, kFarAddress);
            namespaces_->far().SetSysctl("net.ipv4.icmp_echo_ignore_all", "1");
            // No ping sockets: the probe falls back to a raw socket, which sees all traffic.
            namespaces_->near().SetSysctl("net.ipv4.ping_group_range", "1 0");
        } catch (const std::exception& error) {
            GTEST_SKIP() << "network namespaces cannot be made here: " << error.what();
        }
        flood_ = std::make_unique<Flood>(namespaces_->near());
        peer_ = std::make_unique<testing::IcmpPeer>(namespaces_->far(), SlowAnswer);
        // The noise has to be flowing before the first probe.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (flood_->sent() < 100 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GE(flood_->sent(), 100) << "the flood did not start";
    }

    std::unique_ptr<JoinedNamespaces> namespaces_;
    std::unique_ptr<Flood> flood_;
    std::unique_ptr<testing::IcmpPeer> peer_;
};

TEST_F(EchoUnderNoise, EveryProbeReportsItsOwnReply) {
    // At least this many probes, and on until the noise during them is several packets a
    // probe, however slowly a loaded machine lets the flood run.
    constexpr int kLeastProbes = 300;
    constexpr long kLeastNoisePerProbe = 4;
    const long noiseBefore = flood_->sent();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const std::int32_t farValue = ParseAddress(kFarAddress);
    std::map<std::string, int> wrong;
    int probes = 0;
    const bool entered = testing::RunInside(namespaces_->near(), [&] {
        testing::RecordingMessageDialog messages;
        const EchoServices services = SystemEchoServices(messages);
        while (probes < kLeastProbes ||
               (flood_->sent() - noiseBefore < kLeastNoisePerProbe * probes &&
                std::chrono::steady_clock::now() < giveUp)) {
            ++probes;
            EchoReply reply{};
            const std::int32_t result = PingAddress(kFarAddress, reply, services);
            if (reply.Status != 0)
                ++wrong["Status " + std::to_string(reply.Status)];
            else if (result != reply.RoundTripTime || result < 0)
                ++wrong["result not the round trip"];
            if (reply.Address != farValue)
                ++wrong["Address " + std::to_string(reply.Address)];
            if (reply.DataSize != 9 || std::memcmp(reply.Data, "Echo This\0", 10) != 0)
                ++wrong["Data " + std::string(reply.Data, std::clamp<int>(reply.DataSize, 0, 64))];
        }
        if (!messages.shown.empty())
            ++wrong["message shown: " + messages.shown.front().prompt];
    });
    ASSERT_TRUE(entered);
    const long noise = flood_->sent() - noiseBefore;
    for (const auto& [what, count] : wrong)
        ADD_FAILURE() << count << " of " << probes << " probes: " << what;
    EXPECT_EQ(peer_->requestsSeen(), probes);
    EXPECT_GE(noise, kLeastNoisePerProbe * probes) << "too little noise to prove anything";
    std::printf("%d probes among %ld noise packets\n", probes, noise);
}

// The control: a probe that takes the first echo reply it sees is fooled by the same
// noise, so the test above would catch a probe that does not match its own reply.
TEST_F(EchoUnderNoise, NoiseFoolsAProbeThatDoesNotMatchItsReply) {
    constexpr int kProbes = 100;
    int fooled = 0;
    const bool entered = testing::RunInside(namespaces_->near(), [&] {
        for (int probe = 0; probe < kProbes; ++probe) {
            const int descriptor = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
            ASSERT_GE(descriptor, 0);
            sockaddr_in far{};
            far.sin_family = AF_INET;
            far.sin_addr.s_addr = inet_addr(kFarAddress);
            const Bytes request = EchoMessage(8, 0xBEEF, 1, TextBytes("Echo This"));
            sendto(descriptor, request.data(), request.size(), 0,
                   reinterpret_cast<const sockaddr*>(&far), sizeof far);
            std::uint8_t datagram[2048];
            for (;;) {
                pollfd waiting{descriptor, POLLIN, 0};
                if (poll(&waiting, 1, 200) <= 0)
                    break;
                const ssize_t size = recv(descriptor, datagram, sizeof datagram, 0);
                const std::size_t header = std::size_t{datagram[0] & 0x0Fu} * 4;
                if (size < static_cast<ssize_t>(header + 8) || datagram[header] != 0)
                    continue;
                fooled += std::memcmp(datagram + header + 4, request.data() + 4, 4) != 0;
                break;
            }
            close(descriptor);
        }
    });
    ASSERT_TRUE(entered);
    EXPECT_GT(fooled, 0) << "the noise never reached a probe between its request and reply";
    std::printf("a careless probe took someone else's reply %d times in %d\n", fooled, kProbes);
}

} // namespace
} // namespace tarnwick

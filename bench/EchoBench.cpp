// Echo probe costs: PingAddress to 127.0.0.1 through the echo program against a bare ICMP round
// trip plus a round trip over pipes between two processes, the first ping that starts the
// program, the program's own exchange and memory, and how closely an unanswered echo keeps
// its 200 ms timeout.
//
// Traffic goes only to 127.0.0.1 and to an address inside a pair of network namespaces that
// this program makes and deletes. The namespace parts need root and are skipped without it.
#include "bench/BenchTable.h"
#include "echo/EchoExchange.h"
#include "echo/EchoSocket.h"
#include "echo/IcmpPacket.h"
#include "engine/EchoProbe.h"
#include "engine/EchoReply.h"
#include "platform/Capabilities.h"
#include "platform/linux/EchoProgramClient.h"
#include "tests/support/NetworkNamespaces.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using tarnwick::bench::Maximum;
using tarnwick::bench::Median;
using tarnwick::bench::PrintRawRow;
using tarnwick::bench::PrintRow;
using tarnwick::bench::Value;

constexpr double kOverheadTarget = 1.25;
constexpr double kTimeoutMilliseconds = 200;
constexpr double kTimeoutSlackMilliseconds = 10;

class SilentMessageDialog final : public tarnwick::platform::MessageDialog {
public:
    void Show(const std::string& prompt, tarnwick::platform::MessageIcon) override {
        std::fprintf(stderr, "echo: message shown: %s\n", prompt.c_str());
        ++shown;
    }
    int shown = 0;
};

// The echo program of this build, as the window starts its installed one: at the first ping.
tarnwick::EchoServices ProgramEchoServices(tarnwick::platform::MessageDialog& messages) {
    static tarnwick::platform::EchoProgramClient client(TARNWICK_ECHO_PROGRAM_BUILT);
    return {tarnwick::platform::SystemSocketLibrary(), client, messages};
}

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Exactly size bytes from descriptor; false at its end or on an error.
bool ReadAll(int descriptor, void* bytes, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = read(descriptor, static_cast<std::uint8_t*>(bytes) + done, size - done);
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// A "Echo This" request frame as the window's client encodes it, with its reply room.
std::vector<std::uint8_t> EchoFrame(std::uint32_t destination, std::uint32_t timeout) {
    static const char text[] = "Echo This";
    tarnwick::contract::EchoRequest request;
    request.destination = destination;
    request.timeoutMilliseconds = timeout;
    request.replyCapacity = sizeof(tarnwick::EchoReply);
    request.data = {reinterpret_cast<const std::uint8_t*>(text), sizeof text - 1};
    std::vector<std::uint8_t> frame(tarnwick::contract::kLargestEncodedRequest);
    frame.resize(tarnwick::contract::EncodeRequest(request, frame));
    return frame;
}

// The socket kind the echo layer settles on: a ping socket where the group range allows it,
// a raw socket otherwise.
enum class SocketKind { Ping, Raw };

int OpenEchoSocket(SocketKind kind) {
    return kind == SocketKind::Ping ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP)
                                    : socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}

SocketKind ChosenSocketKind() {
    const int probe = OpenEchoSocket(SocketKind::Ping);
    if (probe >= 0) {
        close(probe);
        return SocketKind::Ping;
    }
    return SocketKind::Raw;
}

// What a round trip asks of the kernel beyond the echo itself.
enum class Extras {
    None,         // the floor
    ReplyDetails, // also what the reply record shows: TTL, TOS, IP options, ICMP errors
};

void AskForReplyDetails(int descriptor, SocketKind kind) {
    const int on = 1;
    if (kind == SocketKind::Ping) {
        for (const int option : {IP_RECVERR, IP_RECVTTL, IP_RECVTOS})
            setsockopt(descriptor, SOL_IP, option, &on, sizeof on);
    } else {
        // A raw socket carries the IP header anyway; only a filter keeps requests out (the
        // layer attaches its own once, to the socket it keeps for the run).
        icmp_filter filter{};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                        (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        setsockopt(descriptor, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
}

// The floor: open, send one echo to 127.0.0.1, receive its reply, close. Nothing else.
bool RoundTrip(SocketKind kind, std::uint16_t sequence, Extras extras) {
    const int descriptor = OpenEchoSocket(kind);
    if (descriptor < 0)
        return false;
    if (extras == Extras::ReplyDetails)
        AskForReplyDetails(descriptor, kind);
    const std::uint16_t identifier = static_cast<std::uint16_t>(getpid());
    std::uint8_t packet[8 + 9] = {8,
                                  0,
                                  0,
                                  0,
                                  static_cast<std::uint8_t>(identifier >> 8),
                                  static_cast<std::uint8_t>(identifier),
                                  static_cast<std::uint8_t>(sequence >> 8),
                                  static_cast<std::uint8_t>(sequence)};
    std::memcpy(packet + 8, "Echo This", 9);
    const std::uint16_t sum = tarnwick::echo::InternetChecksum(packet);
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool replied = false;
    if (sendto(descriptor, packet, sizeof packet, 0,
               reinterpret_cast<const sockaddr*>(&destination), sizeof destination) > 0) {
        std::uint8_t received[1500];
        std::uint8_t control[512];
        pollfd waiting{descriptor, POLLIN, 0};
        // On loopback the reply is often queued before sendto returns: read first, and
        // wait only when nothing is there.
        for (bool waited = false; !replied; waited = true) {
            if (waited && poll(&waiting, 1, 200) <= 0)
                break;
            iovec data{received, sizeof received};
            msghdr message{};
            message.msg_iov = &data;
            message.msg_iovlen = 1;
            if (extras == Extras::ReplyDetails) {
                message.msg_control = control;
                message.msg_controllen = sizeof control;
            }
            const ssize_t size = recvmsg(descriptor, &message, MSG_DONTWAIT);
            if (size < 0 && errno == EAGAIN)
                continue;
            if (size <= 0)
                break;
            // A raw socket also sees the request itself and everyone's ICMP, after the IP
            // header; a ping socket hands over only its own replies.
            const std::size_t offset = kind == SocketKind::Raw ? (received[0] & 0x0F) * 4u : 0;
            if (static_cast<std::size_t>(size) >= offset + 8 && received[offset] == 0 &&
                (kind == SocketKind::Ping ||
                 (received[offset + 4] == packet[4] && received[offset + 5] == packet[5])) &&
                received[offset + 6] == packet[6] && received[offset + 7] == packet[7])
                replied = true;
        }
    }
    close(descriptor);
    return replied;
}

// Where the client and the process at the other end of its pipes run. Wake-ups between two
// processes cost a few microseconds on one processor and several times that across two (an idle
// processor must be woken first), and the scheduler settles a pair on either, so a floor
// measured on one placement says nothing about an echo that ran on the other. Both placements
// are measured, each echo against the floor placed as it was.
struct Placement {
    const char* name;
    int peerCpu;
};

// The processors this thread may run on.
std::vector<int> UsableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &set))
                cpus.push_back(cpu);
    return cpus;
}

// Binds the calling thread; a process it starts inherits the binding.
bool RunOn(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

// A process at the other end of a pipe pair that reads each request as the echo program does (its
// length, then the rest, blocking) and answers with the same sizes (a 27-byte request frame, a
// 290-byte answer) and no echo; the client's end is used with the client's calls. One round trip
// between two processes over pipes: the part of the floor that the program adds.
class PipePeer {
public:
    // Started on cpu, as an echo program started from a thread bound there is.
    explicit PipePeer(int cpu) {
        int toPeer[2], fromPeer[2];
        if (pipe2(toPeer, O_CLOEXEC) != 0 || pipe2(fromPeer, O_CLOEXEC) != 0)
            return;
        std::fflush(stdout);
        peer_ = fork();
        if (peer_ == 0) {
            // Requests on 0 and answers on 1, as the echo program has them, and nothing else
            // open: another peer's pipe held here would never see its end.
            if (dup2(toPeer[0], STDIN_FILENO) < 0 || dup2(fromPeer[1], STDOUT_FILENO) < 0)
                _exit(1);
            close_range(STDERR_FILENO + 1, ~0u, 0);
            RunOn(cpu);
            std::uint8_t length[2], request[kRequestSize - 2], answer[kAnswerSize] = {};
            while (read(STDIN_FILENO, length, sizeof length) == sizeof length &&
                   read(STDIN_FILENO, request, sizeof request) == sizeof request &&
                   write(STDOUT_FILENO, answer, sizeof answer) == sizeof answer) {
            }
            _exit(0);
        }
        close(toPeer[0]);
        close(fromPeer[1]);
        out_ = toPeer[1];
        in_ = fromPeer[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(in_, F_SETFL, O_NONBLOCK);
    }
    ~PipePeer() {
        close(out_);
        close(in_);
        if (peer_ > 0)
            waitpid(peer_, nullptr, 0);
    }
    PipePeer(const PipePeer&) = delete;
    PipePeer& operator=(const PipePeer&) = delete;

    // The client's calls for one echo, in its order: a look that nothing is readable between
    // requests, a clock reading for the deadline, SIGPIPE blocked around the write, another
    // clock reading and a poll for the answer, then one readv for its header and record.
    bool RoundTrip() {
        pollfd idle{in_, POLLIN, 0};
        if (poll(&idle, 1, 0) != 0)
            return false;
        std::uint8_t request[kRequestSize] = {kRequestSize - 2, 0};
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWait);
        sigset_t pipeOnly, previous;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
        const ssize_t written = write(out_, request, sizeof request);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        pollfd ready{in_, POLLIN, 0};
        if (written != sizeof request || Clock::now() > deadline || poll(&ready, 1, kWait) <= 0)
            return false;
        std::uint8_t answer[kAnswerSize];
        iovec parts[] = {{answer, kHeaderSize}, {answer + kHeaderSize, kAnswerSize - kHeaderSize}};
        ssize_t size = readv(in_, parts, 2);
        // The rest, rarely: a pipe hands over a write this small in one piece.
        for (std::size_t got = size > 0 ? static_cast<std::size_t>(size) : 0; got < kAnswerSize;
             got += static_cast<std::size_t>(size)) {
            if (poll(&ready, 1, kWait) <= 0 ||
                (size = read(in_, answer + got, kAnswerSize - got)) <= 0)
                return false;
        }
        return true;
    }

private:
    static constexpr std::size_t kRequestSize = 2 + 16 + 9, kHeaderSize = 12,
                                 kAnswerSize = kHeaderSize + 278;
    static constexpr int kWait = 1200;
    pid_t peer_ = -1;
    int out_ = -1, in_ = -1;
};

// One placement's series: the bare round trip, the pipe round trip and the round trip with
// reply details in this process, and PingAddress through an echo program of its own.
struct PlacedSeries {
    Placement placement;
    std::unique_ptr<PipePeer> peer;
    std::unique_ptr<tarnwick::platform::EchoProgramClient> client;
    std::vector<double> floorTimes, pipeTimes, detailTimes, probeTimes;
};

// Alternates, call by call and placement by placement, the bare round trip, the pipe round trip,
// the round trip with reply details and PingAddress through the echo program, so that drift and
// other programs' load hit all alike; the client stays on one processor throughout.
void MeasureThroughProgram(const std::string& setting, int probes) {
    const SocketKind kind = ChosenSocketKind();
    const char* kindName = kind == SocketKind::Ping ? "ping socket" : "raw socket";
    SilentMessageDialog messages;
    const std::string address = "127.0.0.1";
    cpu_set_t unbound;
    sched_getaffinity(0, sizeof unbound, &unbound);
    const std::vector<int> cpus = UsableCpus();
    if (cpus.empty() || !RunOn(cpus[0]))
        return;
    std::vector<PlacedSeries> series;
    series.push_back({{"one core", cpus[0]}, nullptr, nullptr, {}, {}, {}, {}});
    if (cpus.size() > 1)
        series.push_back({{"two cores", cpus[1]}, nullptr, nullptr, {}, {}, {}, {}});
    int failures = 0;
    for (PlacedSeries& placed : series) {
        // The peer and the echo program start bound to the peer's processor; the client
        // returns to its own.
        RunOn(placed.placement.peerCpu);
        placed.peer = std::make_unique<PipePeer>(placed.placement.peerCpu);
        placed.client =
            std::make_unique<tarnwick::platform::EchoProgramClient>(TARNWICK_ECHO_PROGRAM_BUILT);
        tarnwick::EchoReply reply{};
        failures += tarnwick::PingAddress(
                        address, reply,
                        {tarnwick::platform::SystemSocketLibrary(), *placed.client, messages}) < 0;
        RunOn(cpus[0]);
    }

    for (int index = -probes / 10; index < probes; ++index) {
        for (std::size_t turn = 0; turn < series.size(); ++turn) {
            // The order of the placements turns each round, so neither always follows the other.
            PlacedSeries& placed =
                series[(turn + static_cast<std::size_t>(index + probes)) % series.size()];
            const tarnwick::EchoServices services{tarnwick::platform::SystemSocketLibrary(),
                                                  *placed.client, messages};
            const auto sequence = static_cast<std::uint16_t>(4 * index + 2 * turn);
            Clock::time_point start = Clock::now();
            const bool floorReplied = RoundTrip(kind, sequence, Extras::None);
            const double floorTime = MicrosecondsSince(start);

            start = Clock::now();
            const bool pipeAnswered = placed.peer->RoundTrip();
            const double pipeTime = MicrosecondsSince(start);

            start = Clock::now();
            const bool detailReplied =
                RoundTrip(kind, static_cast<std::uint16_t>(sequence + 1), Extras::ReplyDetails);
            const double detailTime = MicrosecondsSince(start);

            tarnwick::EchoReply reply{};
            start = Clock::now();
            const std::int32_t result = tarnwick::PingAddress(address, reply, services);
            const double probeTime = MicrosecondsSince(start);

            if (!floorReplied || !pipeAnswered || !detailReplied || result < 0 ||
                reply.Status != 0 || reply.DataSize != 9)
                ++failures;
            if (index >= 0) {
                placed.floorTimes.push_back(floorTime);
                placed.pipeTimes.push_back(pipeTime);
                placed.detailTimes.push_back(detailTime);
                placed.probeTimes.push_back(probeTime);
            }
        }
    }
    sched_setaffinity(0, sizeof unbound, &unbound);

    for (const PlacedSeries& placed : series) {
        const char* where = placed.placement.name;
        const double floor = Median(placed.floorTimes) + Median(placed.pipeTimes);
        std::fprintf(stderr,
                     "echo: %s, %s, %s: PingAddress through the echo program median %.1f us "
                     "(max %.1f), bare round trip %.1f us, pipe round trip %.1f us, with reply "
                     "details %.1f us, %d probes, %d failed, %d messages\n",
                     setting.c_str(), kindName, where, Median(placed.probeTimes),
                     Maximum(placed.probeTimes), Median(placed.floorTimes),
                     Median(placed.pipeTimes), Median(placed.detailTimes), probes, failures,
                     messages.shown);
        const std::string measure = "PingAddress 127.0.0.1 through the echo program, " + setting +
                                    ", " + where + " (" + kindName + ", us)";
        const std::string floorName = "bare round trip + pipe round trip";
        PrintRawRow(std::string("  bare round trip + pipe round trip between two processes, ") +
                        where + " (us)",
                    Value(floor),
                    "bare " + Value(Median(placed.floorTimes)) + " + pipes " +
                        Value(Median(placed.pipeTimes)),
                    "-", "(floor)", "-");
        if (failures > 0 || messages.shown > 0) {
            PrintRawRow(measure, "failed", floorName, "-", "<= 1.25x", "NO");
            continue;
        }
        PrintRow(measure, Median(placed.probeTimes), floorName, floor, "<= 1.25x", kOverheadTarget);
        // Not a target: shows how much of the gap is the kernel's work for the record's details.
        const double detailFloor = Median(placed.detailTimes) + Median(placed.pipeTimes);
        PrintRawRow("  same, against a round trip with the program's socket options + pipes",
                    Value(Median(placed.probeTimes)), "with details + pipes " + Value(detailFloor),
                    Value(Median(placed.probeTimes) / detailFloor, "%.2fx"), "(explains)", "-");
    }
}

// The first ping of a run starts the echo program; each sample is a fresh client, its first ping
// against its second.
void MeasureFirstPing(int samples) {
    std::vector<double> firstTimes, laterTimes;
    int failures = 0;
    for (int sample = 0; sample < samples; ++sample) {
        SilentMessageDialog messages;
        tarnwick::platform::EchoProgramClient client(TARNWICK_ECHO_PROGRAM_BUILT);
        const tarnwick::EchoServices services{tarnwick::platform::SystemSocketLibrary(), client,
                                              messages};
        for (std::vector<double>* times : {&firstTimes, &laterTimes}) {
            tarnwick::EchoReply reply{};
            const Clock::time_point start = Clock::now();
            failures += tarnwick::PingAddress("127.0.0.1", reply, services) < 0;
            times->push_back(MicrosecondsSince(start) / 1000);
        }
    }
    const double extra = Median(firstTimes) - Median(laterTimes);
    std::fprintf(stderr,
                 "echo: first ping %.2f ms (max %.2f), a later one %.3f ms, over %d clients, %d "
                 "failed\n",
                 Median(firstTimes), Maximum(firstTimes), Median(laterTimes), samples, failures);
    PrintRawRow("first ping, the echo program's start included, beyond a later one (ms)",
                failures ? "failed" : Value(extra, "%.2f"),
                "later ping " + Value(Median(laterTimes), "%.3f"), "-", "<= 20",
                tarnwick::bench::Met(failures == 0 && extra <= 20));
}

// The echo program's own exchange (its socket kept, as the program keeps it) against the bare
// round trip, alternated call by call on the socket kind the program would choose.
void MeasureProgramExchange(int probes) {
    const tarnwick::echo::OpenedSocket opened = tarnwick::echo::OpenEchoSocket();
    const SocketKind kind = opened.socket.kind == tarnwick::contract::SocketKind::Ping
                                ? SocketKind::Ping
                                : SocketKind::Raw;
    const char* kindName = kind == SocketKind::Ping ? "ping socket" : "raw socket";
    const std::string measure =
        std::string("echo program's exchange, 127.0.0.1 (") + kindName + ", us)";
    if (opened.socket.kind == tarnwick::contract::SocketKind::None) {
        PrintRawRow(measure, "no socket", "bare round trip", "-", "<= 1.25x", "NO");
        return;
    }
    tarnwick::echo::EchoExchange exchange(opened.socket);
    static std::uint8_t record[278];
    const std::uint8_t text[] = {'E', 'c', 'h', 'o', ' ', 'T', 'h', 'i', 's'};
    const tarnwick::contract::EchoRequest request{16777343, 200, sizeof record, text};
    std::vector<double> floorTimes, exchangeTimes;
    int failures = 0;
    for (int index = -probes / 10; index < probes; ++index) {
        Clock::time_point start = Clock::now();
        const bool floorReplied = RoundTrip(kind, static_cast<std::uint16_t>(index), Extras::None);
        const double floorTime = MicrosecondsSince(start);
        start = Clock::now();
        const tarnwick::echo::EchoOutcome outcome = exchange.Echo(request, record);
        const double exchangeTime = MicrosecondsSince(start);
        failures += !floorReplied || outcome.replies != 1;
        if (index >= 0) {
            floorTimes.push_back(floorTime);
            exchangeTimes.push_back(exchangeTime);
        }
    }
    close(opened.socket.descriptor);
    std::fprintf(stderr, "echo: program's exchange, %s: median %.1f us, floor %.1f us, %d failed\n",
                 kindName, Median(exchangeTimes), Median(floorTimes), failures);
    if (failures > 0) {
        PrintRawRow(measure, "failed", "bare round trip", "-", "<= 1.25x", "NO");
        return;
    }
    PrintRow(measure, Median(exchangeTimes), "bare round trip", Median(floorTimes), "<= 1.25x",
             kOverheadTarget);
}

// The built echo program's peak resident memory (VmHWM) after serving echoes to 127.0.0.1.
void MeasureProgramMemory(int echoes) {
    int toProgram[2], fromProgram[2];
    if (pipe2(toProgram, O_CLOEXEC) != 0 || pipe2(fromProgram, O_CLOEXEC) != 0)
        return;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        dup2(toProgram[0], 0);
        dup2(fromProgram[1], 1);
        execl(TARNWICK_ECHO_PROGRAM_BUILT, "tarnwick-echo", nullptr);
        _exit(127);
    }
    close(toProgram[0]);
    close(fromProgram[1]);
    const auto readAll = [&](void* bytes, std::size_t size) {
        return ReadAll(fromProgram[0], bytes, size);
    };
    tarnwick::contract::Greeting greeting{};
    int served = 0;
    if (child > 0 && readAll(&greeting, sizeof greeting)) {
        const std::vector<std::uint8_t> frame = EchoFrame(16777343, 200);
        std::uint8_t answer[sizeof(tarnwick::contract::AnswerHeader) + 278];
        for (int echo = 0; echo < echoes; ++echo) {
            tarnwick::contract::AnswerHeader answerHeader{};
            if (write(toProgram[1], frame.data(), frame.size()) !=
                    static_cast<ssize_t>(frame.size()) ||
                !readAll(&answerHeader, sizeof answerHeader) ||
                answerHeader.recordSize > sizeof answer ||
                !readAll(answer, answerHeader.recordSize))
                break;
            served += answerHeader.replies == 1;
        }
    }
    double peakKiB = -1;
    std::ifstream status("/proc/" + std::to_string(child) + "/status");
    for (std::string field; status >> field;) {
        if (field == "VmHWM:")
            status >> peakKiB;
    }
    close(toProgram[1]);
    close(fromProgram[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    std::fprintf(stderr, "echo: tarnwick-echo peak resident %.0f KiB after %d of %d echoes\n",
                 peakKiB, served, echoes);
    const bool met = peakKiB > 0 && peakKiB <= 4096 && served == echoes;
    PrintRawRow("tarnwick-echo peak resident memory after " + std::to_string(echoes) +
                    " echoes (KiB)",
                served == echoes ? Value(peakKiB, "%.0f") : "failed", "-", "-", "<= 4096", met);
}

void MeasureTimeout(const std::string& silentAddress, int probes) {
    SilentMessageDialog messages;
    const tarnwick::EchoServices services = ProgramEchoServices(messages);
    std::vector<double> times;
    int wrongResults = 0;
    for (int index = 0; index < probes; ++index) {
        tarnwick::EchoReply reply{};
        const Clock::time_point start = Clock::now();
        const std::int32_t result = tarnwick::PingAddress(silentAddress, reply, services);
        times.push_back(MicrosecondsSince(start) / 1000);
        if (result != -11010)
            ++wrongResults;
    }
    const double median = Median(times);
    const double maximum = Maximum(times);
    std::fprintf(stderr,
                 "echo: dropped echo: median %.2f ms, max %.2f ms over %d probes, %d results "
                 "other than -11010\n",
                 median, maximum, probes, wrongResults);
    const double limit = kTimeoutMilliseconds + kTimeoutSlackMilliseconds;
    const bool met = wrongResults == 0 && maximum <= limit;
    PrintRawRow("dropped echo returns after, median (ms)", Value(median, "%.2f"), "timeout 200",
                Value(median / kTimeoutMilliseconds, "%.3fx"), "200 to 210",
                tarnwick::bench::Met(met && median >= kTimeoutMilliseconds));
    PrintRawRow("dropped echo returns after, max of " + std::to_string(probes) + " (ms)",
                Value(maximum, "%.2f"), "timeout 200",
                Value(maximum / kTimeoutMilliseconds, "%.3fx"), "<= 210",
                tarnwick::bench::Met(met));
}

// The program's first step, before Qt: the socket settled and, as in a user's run, every
// capability given up. It runs once per process, so each sample is a fresh child (root's start
// keeps its capabilities, so the child gives them up after it as a user's run does).
void MeasureStartup(int samples) {
    std::vector<double> times;
    for (int sample = 0; sample < samples; ++sample) {
        int channel[2];
        if (pipe(channel) != 0)
            break;
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            const Clock::time_point start = Clock::now();
            tarnwick::platform::GiveUpPrivileges(tarnwick::platform::SystemCapabilities());
            const bool dropped = tarnwick::platform::SystemCapabilities().DropAll();
            const double time = dropped ? MicrosecondsSince(start) : -1;
            _exit(write(channel[1], &time, sizeof time) == sizeof time ? 0 : 1);
        }
        close(channel[1]);
        double time = -1;
        if (child < 0 || read(channel[0], &time, sizeof time) != sizeof time || time < 0)
            time = 1e9; // a failed start counts as the slowest
        close(channel[0]);
        waitpid(child, nullptr, 0);
        times.push_back(time);
    }
    std::fprintf(stderr, "echo: start-up step: median %.1f us, max %.1f us over %d processes\n",
                 Median(times), Maximum(times), samples);
    PrintRawRow("start-up step before Qt: capabilities given up (us)", Value(Median(times)), "-",
                "-", "< 1000", Median(times) < 1000);
}

// Echo requests a second that the echo program sends for nobody: a copy granted cap_net_raw+p,
// run as nobody on the near side with ping sockets closed (so a raw socket), asked with no time
// to wait for about a second to the far host, which drops them; against ping's limit for a user.
void MeasureNobodyPace(const tarnwick::testing::NamespacePair& pair) {
    char folder[] = "/tmp/tarnwick-pace-XXXXXX";
    const std::string program = mkdtemp(folder) ? std::string(folder) + "/tarnwick-echo" : "";
    std::error_code error;
    std::filesystem::copy_file(TARNWICK_ECHO_PROGRAM_BUILT, program, error);
    const int executable = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    int toProgram[2] = {-1, -1}, fromProgram[2] = {-1, -1};
    pid_t child = -1;
    if (!error && executable >= 0 && pair.AllowPingSockets(false) &&
        tarnwick::testing::RunQuietly("setcap cap_net_raw+p " + program) &&
        pipe2(toProgram, O_CLOEXEC) == 0 && pipe2(fromProgram, O_CLOEXEC) == 0) {
        std::fflush(stdout);
        child = fork();
    }
    if (child == 0) {
        char* const argv[] = {const_cast<char*>("tarnwick-echo"), nullptr};
        char* const environment[] = {nullptr};
        if (dup2(toProgram[0], 0) == 0 && dup2(fromProgram[1], 1) == 1 &&
            tarnwick::testing::EnterNamespace(pair.Near()) && setgroups(0, nullptr) == 0 &&
            setgid(65534) == 0 && setuid(65534) == 0)
            syscall(SYS_execveat, executable, "", argv, environment, AT_EMPTY_PATH);
        _exit(127);
    }
    const auto readAll = [&](void* bytes, std::size_t size) {
        return ReadAll(fromProgram[0], bytes, size);
    };
    tarnwick::contract::Greeting greeting{};
    int sent = 0;
    double seconds = 0;
    if (child > 0 && readAll(&greeting, sizeof greeting) &&
        greeting.socket == tarnwick::contract::SocketKind::Raw) {
        const std::vector<std::uint8_t> frame = EchoFrame(33685696, 0); // 192.0.2.2
        std::uint8_t answer[sizeof(tarnwick::contract::AnswerHeader) + 278];
        const Clock::time_point start = Clock::now();
        for (tarnwick::contract::AnswerHeader answerHeader{};
             (seconds = MicrosecondsSince(start) / 1e6) < 1 &&
             write(toProgram[1], frame.data(), frame.size()) ==
                 static_cast<ssize_t>(frame.size()) &&
             readAll(&answerHeader, sizeof answerHeader) &&
             answerHeader.recordSize <= sizeof answer &&
             readAll(answer, answerHeader.recordSize);) {
            std::int32_t status = 0;
            std::memcpy(&status, answer + tarnwick::contract::reply_layout::kStatus,
                        answerHeader.recordSize >= 8 ? sizeof status : 0);
            sent +=
                status == tarnwick::contract::ip_status::kRequestTimedOut; // sent, and timed out
        }
    }
    for (const int descriptor : {toProgram[0], toProgram[1], fromProgram[0], fromProgram[1]})
        close(descriptor);
    if (child > 0)
        waitpid(child, nullptr, 0);
    close(executable);
    std::filesystem::remove_all(folder, error);
    std::fprintf(stderr, "echo: nobody's echo program sent %d echoes in %.3f s\n", sent, seconds);
    if (sent == 0) {
        PrintRawRow("echoes a second that the echo program sends for nobody", "failed",
                    "ping's limit for a user", "-", "<= 1.0x", "NO");
        return;
    }
    PrintRow("echoes a second that the echo program sends for nobody", sent / seconds,
             "ping's limit for a user", 500, "<= 1.0x", 1.0);
}

} // namespace

int main(int argc, char** argv) {
    int probes = 2000;
    int timeoutProbes = 20;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string flag = argv[index];
        if (flag == "--probes")
            probes = std::max(10, std::atoi(argv[index + 1]));
        else if (flag == "--timeout-probes")
            timeoutProbes = std::max(1, std::atoi(argv[index + 1]));
    }

    // As the window starts (root keeps its capabilities, which the floor's raw sockets need).
    const auto start = [] {
        return tarnwick::platform::GiveUpPrivileges(tarnwick::platform::SystemCapabilities()) !=
               tarnwick::platform::StartPrivilege::CapabilitiesKept;
    };
    MeasureStartup(std::max(5, probes / 100));
    MeasureProgramExchange(probes);
    MeasureProgramMemory(std::max(100, probes / 10));
    start();
    MeasureThroughProgram("this machine", probes);
    MeasureFirstPing(std::max(5, probes / 100));

    if (geteuid() != 0) {
        std::fprintf(stderr, "echo: not root, the namespace measurements are left out\n");
        return 0;
    }
    // A child moves into the near side and starts there as the window would (its echo program
    // starts there too); the far side drops echoes.
    const tarnwick::testing::NamespacePair pair;
    if (!pair.Ready() || !pair.AllowPingSockets(true) || !pair.SetFarEchoVerdict("drop")) {
        std::fprintf(stderr, "echo: cannot make the network namespaces, left out\n");
        return 0;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        if (!tarnwick::testing::EnterNamespace(pair.Near()) || !start())
            _exit(1);
        MeasureThroughProgram("namespace with ping sockets", probes);
        MeasureTimeout(tarnwick::testing::NamespacePair::kFarAddress, timeoutProbes);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 1;
    if (child < 0 || waitpid(child, &status, 0) != child || status != 0)
        std::fprintf(stderr, "echo: the namespace measurements failed\n");
    MeasureNobodyPace(pair);
    return 0;
}

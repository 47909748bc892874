// ICMP echo on Linux: an unprivileged ping socket where allowed, a raw socket otherwise: the one
// kept from start-up, or one per handle for a process that kept none.
#include "platform/Icmp.h"
#include "echo/IcmpPacket.h"

#include <ctime> // linux/errqueue.h uses timespec
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace tarnwick::platform {
namespace {

using namespace tarnwick::echo;

using Clock = std::chrono::steady_clock;

enum class SocketKind {
    Ping, // SOCK_DGRAM: the kernel builds checksums and hands us only our own replies
    Raw,  // SOCK_RAW: ICMP datagrams with their IP header, as far as our filter lets them in
};

// IPv4 datagrams are at most 65535 bytes, so nothing read is ever cut short.
constexpr std::size_t kLargestDatagram = 65536;
constexpr std::size_t kControlSize = 512;

struct EchoSocket {
    EchoSocket(int descriptor, SocketKind kind, std::uint16_t identifier)
        : descriptor(descriptor), kind(kind), identifier(identifier) {}
    ~EchoSocket() { close(descriptor); }
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    const int descriptor;
    const SocketKind kind;
    const std::uint16_t identifier;
    // One request at a time per socket: two waiting callers would read each other's replies.
    std::mutex mutex;
    std::uint16_t sequence = 0;
    std::vector<std::uint8_t> packet;
};

// Where datagrams and their control messages are read to: made once per thread that
// pings, so a probe neither allocates nor faults in fresh pages for it.
struct ReceiveArea {
    std::uint8_t* datagram;
    std::uint8_t* control;
};

ReceiveArea ThreadReceiveArea() {
    // Read into without clearing first: only the bytes the kernel wrote are looked at.
    thread_local const std::unique_ptr<std::uint8_t[]> area =
        std::make_unique_for_overwrite<std::uint8_t[]>(kLargestDatagram + kControlSize);
    return {area.get(), area.get() + kLargestDatagram};
}

void EnableOption(int descriptor, int level, int option) {
    const int on = 1;
    // Without these we still get replies, only with fewer header details.
    (void)setsockopt(descriptor, level, option, &on, sizeof on);
}

// Ping sockets need no privilege, only the caller's group inside net.ipv4.ping_group_range.
// socket() fails with EACCES when the group is outside the range (the default range "1 0"
// admits nobody), EPERM where a security module forbids it, and EAFNOSUPPORT or
// EPROTONOSUPPORT on kernels built without ping sockets.
std::shared_ptr<EchoSocket> OpenPingSocket() {
    const int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (descriptor < 0)
        return nullptr;
    // ICMP errors arrive as queued records with type, code and reporting host.
    EnableOption(descriptor, SOL_IP, IP_RECVERR);
    EnableOption(descriptor, SOL_IP, IP_RECVTTL);
    EnableOption(descriptor, SOL_IP, IP_RECVTOS);
    // No IP_RECVOPTS: a reply carries options only when its request did, and ours carry
    // none; every option costs a system call on each probe.
    // The kernel picks the identifier when the first request goes out (the socket's port),
    // writes it into every request and hands over only replies that carry it.
    return std::make_shared<EchoSocket>(descriptor, SocketKind::Ping, 0);
}

std::uint16_t NextRawIdentifier() {
    // Raw sockets share all ICMP traffic, so each handle needs an identifier of its own,
    // unlikely to be another process's.
    static std::mutex mutex;
    static std::uint16_t next = [] {
        try {
            return static_cast<std::uint16_t>(std::random_device{}());
        } catch (...) {
            return static_cast<std::uint16_t>(getpid());
        }
    }();
    std::lock_guard lock(mutex);
    return next++;
}

// A raw socket receives a copy of every ICMP message the machine gets. This classic BPF program
// lets through only what can be about this socket's own echoes, so that nothing else is ever
// queued: echo replies carrying its identifier, and errors (unreachable, source quench, time
// exceeded, parameter problem) that quote an echo request carrying it. The data starts at the
// IP header, whose length X is taken from the datagram; an error's quoted IP header follows its
// 8-byte ICMP header and has a length of its own.
bool AttachEchoFilter(int descriptor, std::uint16_t identifier) {
    constexpr std::uint8_t kAccept = 20, kDrop = 21; // the last two instructions
    const auto to = [](std::uint8_t target, std::uint8_t from) {
        return static_cast<std::uint8_t>(target - from - 1);
    };
    sock_filter program[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                    // 0: X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                     // 1: ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 2), // 2
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                     // 3: identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, to(kAccept, 4), to(kDrop, 4)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_DEST_UNREACH, 3, 0),  // 5
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_SOURCE_QUENCH, 2, 0), // 6
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_TIME_EXCEEDED, 1, 0), // 7
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_PARAMETERPROB, 0, to(kDrop, 8)),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8 + 9), // 9: quoted protocol
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, IPPROTO_ICMP, 0, to(kDrop, 10)),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),     // 11: quoted length
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0F), // 12
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),    // 13
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),    // 14
        BPF_STMT(BPF_MISC | BPF_TAX, 0),           // 15: X = both lengths
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),     // 16: quoted type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHO, 0, to(kDrop, 17)),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 8 + 4),             // 18: quoted identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 0, 1), // 19
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),                 // 20: accept whole
        BPF_STMT(BPF_RET | BPF_K, 0),                          // 21: drop
    };
    static_assert(std::size(program) == kDrop + 1);
    const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    const int on = 1;
    // Locked, so that no code in this process can take the filter off and read everything.
    return setsockopt(descriptor, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0 &&
           setsockopt(descriptor, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) == 0;
}

// Raw sockets need CAP_NET_RAW (root has it); without it socket() fails with EPERM. A socket
// that could not get its filter is not used: kept, it would collect the machine's traffic.
std::shared_ptr<EchoSocket> OpenRawSocket() {
    const int descriptor = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (descriptor < 0)
        return nullptr;
    const std::uint16_t identifier = NextRawIdentifier();
    if (!AttachEchoFilter(descriptor, identifier)) {
        const int error = errno;
        close(descriptor);
        errno = error;
        return nullptr;
    }
    return std::make_shared<EchoSocket>(descriptor, SocketKind::Raw, identifier);
}

struct Outcome {
    std::int32_t status = ip_status::kRequestTimedOut;
    std::uint32_t reportingAddress = 0;
    bool replied = false;
};

std::uint32_t AddressOf(const sockaddr_in& address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address.sin_addr.s_addr, 4);
    return AddressValueFromNetworkBytes(bytes);
}

// The user lacks permission when the raw socket was refused (EPERM or EACCES without
// CAP_NET_RAW) and the ping socket was refused or is missing from this kernel; running out of
// descriptors or memory is no matter of permission.
IcmpOpenFailure OpenFailure(int pingError, int rawError) {
    const auto refused = [](int error) { return error == EPERM || error == EACCES; };
    const bool pingMissing = pingError == EAFNOSUPPORT || pingError == EPROTONOSUPPORT;
    return refused(rawError) && (refused(pingError) || pingMissing) ? IcmpOpenFailure::NotPermitted
                                                                    : IcmpOpenFailure::Unavailable;
}

// A ping socket outlives its handle as this thread's spare, so the next handle skips opening
// it and setting its options: together most of an echo's system calls. A forked child must not
// use its parent's spare or kept raw socket (its namespace, groups or capabilities may differ,
// and two processes would read each other's replies), so each fork starts a new generation.
// Replies and errors queued about earlier echoes are told apart by sequence.
std::atomic<unsigned> forkGeneration{0};

struct KeptSocket {
    std::shared_ptr<EchoSocket> socket;
    unsigned generation = 0;
};

KeptSocket& ThreadSpare() {
    thread_local KeptSocket spare;
    return spare;
}

std::shared_ptr<EchoSocket> TakeSpare() {
    KeptSocket& spare = ThreadSpare();
    if (spare.generation != forkGeneration.load(std::memory_order_relaxed))
        spare.socket.reset();
    return std::move(spare.socket);
}

void KeepAsSpare(std::shared_ptr<EchoSocket> socket) {
    KeptSocket& spare = ThreadSpare();
    spare.socket = std::move(socket);
    spare.generation = forkGeneration.load(std::memory_order_relaxed);
}

class LinuxIcmpService final : public IcmpService {
public:
    LinuxIcmpService() {
        pthread_atfork(nullptr, nullptr,
                       [] { forkGeneration.fetch_add(1, std::memory_order_relaxed); });
    }

    // Every handle of the kept raw socket views that one socket; their requests take turns.
    IcmpHandle IcmpCreateFile() override {
        std::shared_ptr<EchoSocket> socket = RawSocketKept();
        if (!socket)
            socket = TakeSpare();
        int pingError = 0;
        if (!socket) {
            socket = OpenPingSocket();
            pingError = socket ? 0 : errno;
        }
        if (!socket)
            socket = OpenRawSocket();
        if (!socket) {
            lastOpenFailure_ = OpenFailure(pingError, errno);
            return kInvalidIcmpHandle;
        }
        lastOpenFailure_ = IcmpOpenFailure::None;
        std::lock_guard lock(mutex_);
        const IcmpHandle handle = nextHandle_++;
        sockets_[handle] = std::move(socket);
        return handle;
    }

    IcmpOpenFailure LastOpenFailure() const override { return lastOpenFailure_; }

    std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destinationAddress,
                               const void* requestData, std::uint16_t requestSize,
                               const void* requestOptions, void* replyBuffer,
                               std::uint32_t replySize,
                               std::uint32_t timeoutMilliseconds) override {
        if (replyBuffer == nullptr)
            return 0;
        const std::span<std::uint8_t> reply(static_cast<std::uint8_t*>(replyBuffer), replySize);
        const auto fail = [&reply](std::int32_t status, std::uint32_t reportingAddress = 0) {
            WriteEchoFailure(reply, status, reportingAddress);
            return 0u;
        };
        const std::shared_ptr<EchoSocket> socket = Find(handle);
        if (!socket)
            return fail(ip_status::kGeneralFailure);
        if (requestData == nullptr && requestSize > 0)
            return fail(ip_status::kBadRequest);
        // Per-request IP options (TTL, TOS, flags) are not offered.
        if (requestOptions != nullptr)
            return fail(ip_status::kBadOption);
        // Linux would answer 0.0.0.0 from the local host: a false success.
        if (destinationAddress == 0)
            return fail(ip_status::kBadDestination);
        if (replySize < reply_layout::kHeaderSize + requestSize)
            return fail(ip_status::kBufTooSmall);

        std::lock_guard lock(socket->mutex);
        const EchoRequestIdentity request{socket->identifier, ++socket->sequence,
                                          destinationAddress};
        socket->packet.resize(kIcmpHeaderSize + requestSize);
        BuildEchoRequest(socket->packet, request.identifier, request.sequence,
                         {static_cast<const std::uint8_t*>(requestData), requestSize});

        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        std::uint8_t destinationBytes[4];
        AddressValueToNetworkBytes(destinationAddress, destinationBytes);
        std::memcpy(&destination.sin_addr.s_addr, destinationBytes, 4);

        const Clock::time_point start = Clock::now();
        // An ICMP error that comes after its echo gave up stays pending on the socket (a kept
        // one; a raw one also hears of hard errors about others' echoes), and sendto returns it
        // instead of sending. That failure cleared it: only a second one is this request's own.
        ssize_t sent = -1;
        for (int attempt = 0; sent < 0 && attempt < 2; ++attempt) {
            do {
                sent = sendto(socket->descriptor, socket->packet.data(), socket->packet.size(), 0,
                              reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
            } while (sent < 0 && errno == EINTR);
        }
        if (sent < 0)
            return fail(StatusForSocketError(errno));

        const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMilliseconds);
        const Outcome outcome = Await(*socket, request, deadline, start, reply);
        if (!outcome.replied)
            return fail(outcome.status, outcome.reportingAddress);
        return outcome.status == ip_status::kSuccess ? 1u : 0u;
    }

    bool IcmpCloseHandle(IcmpHandle handle) override {
        std::shared_ptr<EchoSocket> socket;
        {
            std::lock_guard lock(mutex_);
            const auto found = sockets_.find(handle);
            if (found == sockets_.end())
                return false;
            socket = std::move(found->second);
            sockets_.erase(found);
        }
        // Otherwise the descriptor closes when the last request still using it ends (never,
        // for the kept raw socket).
        if (socket->kind == SocketKind::Ping && socket.use_count() == 1)
            KeepAsSpare(std::move(socket));
        return true;
    }

    bool PingSocketsAllowed() override {
        std::shared_ptr<EchoSocket> socket = OpenPingSocket();
        if (!socket)
            return false;
        KeepAsSpare(std::move(socket));
        return true;
    }

    bool KeepRawSocket() override {
        std::shared_ptr<EchoSocket> socket = OpenRawSocket();
        std::lock_guard lock(mutex_);
        keptRaw_ = {std::move(socket), forkGeneration.load(std::memory_order_relaxed)};
        return keptRaw_.socket != nullptr;
    }

private:
    std::shared_ptr<EchoSocket> RawSocketKept() {
        std::lock_guard lock(mutex_);
        return keptRaw_.generation == forkGeneration.load(std::memory_order_relaxed)
                   ? keptRaw_.socket
                   : nullptr;
    }

    std::shared_ptr<EchoSocket> Find(IcmpHandle handle) {
        std::lock_guard lock(mutex_);
        const auto found = sockets_.find(handle);
        return found == sockets_.end() ? nullptr : found->second;
    }

    // Waits for the reply or an error about this request until the deadline, skipping
    // everything else. A reply is written into the caller's buffer here, while the
    // datagram it points into is still held.
    static Outcome Await(EchoSocket& socket, const EchoRequestIdentity& request,
                         Clock::time_point deadline, Clock::time_point start,
                         std::span<std::uint8_t> reply) {
        // A reply from close by is often queued before sendto returns: look before waiting.
        short events = POLLIN;
        for (bool firstPass = true;; firstPass = false) {
            if (!firstPass) {
                const Clock::time_point now = Clock::now();
                // Checked before every wait so that a flood of unrelated traffic cannot
                // hold us past the deadline.
                if (now >= deadline)
                    return {};
                const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
                pollfd waiting{socket.descriptor, POLLIN, 0};
                const int ready =
                    poll(&waiting, 1,
                         static_cast<int>(std::min<std::int64_t>(remaining.count(), INT_MAX)));
                if (ready < 0 && errno != EINTR)
                    return {StatusForSocketError(errno)};
                if (ready <= 0)
                    continue;
                events = waiting.revents;
            }
            if (events & POLLNVAL)
                return {ip_status::kGeneralFailure};

            if (events & POLLERR) {
                if (const std::optional<Outcome> error = ReadQueuedError(socket, request))
                    return *error;
            }
            // A pending socket error without a queued record is cleared by reading.
            if (events & (POLLIN | POLLERR)) {
                const DecodedDatagram decoded = Receive(socket, request);
                if (decoded.verdict == DatagramVerdict::Error)
                    return {decoded.status, decoded.ip.sourceAddress};
                if (decoded.verdict == DatagramVerdict::Reply) {
                    const auto roundTrip =
                        std::chrono::floor<std::chrono::milliseconds>(Clock::now() - start);
                    const std::int32_t status =
                        WriteEchoReply(reply, decoded.ip, decoded.data,
                                       static_cast<std::uint32_t>(roundTrip.count()));
                    return {status, decoded.ip.sourceAddress, true};
                }
            }
        }
    }

    // One datagram from the normal queue, decoded; Unrelated when there is none.
    static DecodedDatagram Receive(EchoSocket& socket, const EchoRequestIdentity& request) {
        const ReceiveArea area = ThreadReceiveArea();
        sockaddr_in source{};
        iovec data{area.datagram, kLargestDatagram};
        msghdr message{};
        message.msg_name = &source;
        message.msg_namelen = sizeof source;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = area.control;
        message.msg_controllen = kControlSize;
        const ssize_t size = recvmsg(socket.descriptor, &message, MSG_DONTWAIT);
        // A failed read (a pending error, nothing left) is looked at again on the next pass.
        if (size < 0)
            return {};
        const std::span<const std::uint8_t> bytes(area.datagram, static_cast<std::size_t>(size));
        if (socket.kind == SocketKind::Raw)
            return DecodeRawDatagram(bytes, request);

        IpDetails ip;
        ip.sourceAddress = AddressOf(source);
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_IP)
                continue;
            const std::size_t length = header->cmsg_len - CMSG_LEN(0);
            const auto* payload = CMSG_DATA(header);
            if (header->cmsg_type == IP_TTL && length >= sizeof(int)) {
                int ttl;
                std::memcpy(&ttl, payload, sizeof ttl);
                ip.ttl = static_cast<std::uint8_t>(ttl);
            } else if (header->cmsg_type == IP_TOS && length >= 1) {
                ip.tos = payload[0];
            }
        }
        return DecodePingMessage(bytes, ip, request);
    }

    // One record from a ping socket's error queue: the ICMP error if it is about our
    // request. Local errors were already returned by sendto and are dropped here.
    static std::optional<Outcome> ReadQueuedError(EchoSocket& socket,
                                                  const EchoRequestIdentity& request) {
        const ReceiveArea area = ThreadReceiveArea();
        iovec data{area.datagram, kLargestDatagram};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = area.control;
        message.msg_controllen = kControlSize;
        const ssize_t size = recvmsg(socket.descriptor, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (size < 0)
            return std::nullopt;
        const std::span<const std::uint8_t> quoted(area.datagram, static_cast<std::size_t>(size));
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_IP || header->cmsg_type != IP_RECVERR ||
                header->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(header), sizeof error);
            if (error.ee_origin != SO_EE_ORIGIN_ICMP || !QuotesOurRequest(quoted, request))
                continue;
            const std::optional<std::int32_t> status =
                StatusForIcmpError(error.ee_type, error.ee_code);
            if (!status)
                continue;
            Outcome outcome{*status};
            if (header->cmsg_len >= CMSG_LEN(sizeof error + sizeof(sockaddr_in))) {
                sockaddr_in offender;
                std::memcpy(&offender, CMSG_DATA(header) + sizeof error, sizeof offender);
                if (offender.sin_family == AF_INET)
                    outcome.reportingAddress = AddressOf(offender);
            }
            return outcome;
        }
        return std::nullopt;
    }

    std::mutex mutex_;
    std::map<IcmpHandle, std::shared_ptr<EchoSocket>> sockets_;
    IcmpHandle nextHandle_ = 1;
    KeptSocket keptRaw_; // the raw socket of the start-up, for this process only
    std::atomic<IcmpOpenFailure> lastOpenFailure_{IcmpOpenFailure::None};
};

} // namespace

IcmpService& SystemIcmpService() {
    static LinuxIcmpService service;
    return service;
}

} // namespace tarnwick::platform

// The exchange reads into buffers made once for the process, so an echo allocates nothing.
#include "echo/EchoExchange.h"

#include "echo/IcmpPacket.h"

#include <ctime> // linux/errqueue.h uses timespec
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

namespace tarnwick::echo {
namespace {

// IPv4 datagrams are at most 65535 bytes, so nothing read is ever cut short.
constexpr std::size_t kLargestDatagram = 65536;
constexpr std::size_t kControlSize = 512;

std::uint8_t datagramArea[kLargestDatagram];
alignas(cmsghdr) std::uint8_t controlArea[kControlSize];

// Microseconds of the monotonic clock.
std::int64_t NowMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
}

// Sleeps until the monotonic clock reaches moment (microseconds).
void WaitUntil(std::int64_t moment) {
    for (std::int64_t now; (now = NowMicroseconds()) < moment;) {
        const timespec rest{(moment - now) / 1'000'000, (moment - now) % 1'000'000 * 1000};
        ppoll(nullptr, 0, &rest, nullptr);
    }
}

std::uint32_t AddressOf(const sockaddr_in& address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address.sin_addr.s_addr, 4);
    return AddressValueFromNetworkBytes(bytes);
}

struct Outcome {
    std::int32_t status = ip_status::kRequestTimedOut;
    std::uint32_t reportingAddress = 0;
    bool replied = false;
    std::size_t recordSize = 0;
    bool readerGone = false;
};

// A message header that reads into the receive areas, the sender (or, from the error queue, the
// quoted destination) into from.
msghdr MessageInto(iovec& data, sockaddr_in& from) {
    data = {datagramArea, kLargestDatagram};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = controlArea;
    message.msg_controllen = kControlSize;
    return message;
}

// One datagram from the normal queue, decoded; Unrelated when there is none.
DecodedDatagram Receive(const EchoSocket& socket, const EchoRequestIdentity& request) {
    sockaddr_in source{};
    iovec data;
    msghdr message = MessageInto(data, source);
    const ssize_t size = recvmsg(socket.descriptor, &message, MSG_DONTWAIT);
    // A failed read (a pending error, nothing left) is looked at again on the next pass.
    if (size < 0)
        return {};
    const std::span<const std::uint8_t> bytes(datagramArea, static_cast<std::size_t>(size));
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

// One record from a ping socket's error queue: the ICMP error if it is about our request.
// Local errors were already returned by sendto and are dropped here. The kernel matched the
// quoted identifier only: an error quoting our identifier and sequence sent to another host
// is about no request of ours.
std::optional<Outcome> ReadQueuedError(const EchoSocket& socket,
                                       const EchoRequestIdentity& request) {
    sockaddr_in quotedDestination{};
    iovec data;
    msghdr message = MessageInto(data, quotedDestination);
    const ssize_t size = recvmsg(socket.descriptor, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (size < 0 || quotedDestination.sin_family != AF_INET ||
        AddressOf(quotedDestination) != request.destination)
        return std::nullopt;
    const std::span<const std::uint8_t> quoted(datagramArea, static_cast<std::size_t>(size));
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_IP || header->cmsg_type != IP_RECVERR ||
            header->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(header), sizeof error);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP || !QuotesOurRequest(quoted, request))
            continue;
        const std::optional<std::int32_t> status = StatusForIcmpError(error.ee_type, error.ee_code);
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

// Waits for the reply or an error about this request until the deadline, skipping everything
// else. A reply is written into the record here, while the datagram it points into is held.
Outcome Await(const EchoSocket& socket, int watch, const EchoRequestIdentity& request,
              std::int64_t start, std::int64_t deadline, std::span<std::uint8_t> record) {
    // A reply from close by is often queued before sendto returns: look before waiting.
    short events = POLLIN;
    for (bool firstPass = true;; firstPass = false) {
        if (!firstPass) {
            const std::int64_t now = NowMicroseconds();
            // Checked before every wait so that a flood of unrelated traffic cannot hold us
            // past the deadline.
            if (now >= deadline)
                return {};
            const std::int64_t remaining = (deadline - now + 999) / 1000;
            pollfd waiting[2] = {{socket.descriptor, POLLIN, 0}, {watch, 0, 0}};
            const int ready = poll(waiting, watch >= 0 ? 2 : 1,
                                   static_cast<int>(std::min<std::int64_t>(remaining, INT_MAX)));
            if (ready < 0 && errno != EINTR)
                return {StatusForSocketError(errno)};
            if (ready <= 0)
                continue;
            if (waiting[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                Outcome gone;
                gone.readerGone = true;
                return gone;
            }
            events = waiting[0].revents;
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
                    static_cast<std::uint32_t>((NowMicroseconds() - start) / 1000);
                const std::int32_t status =
                    WriteEchoReply(record, decoded.ip, decoded.data, roundTrip);
                if (status != ip_status::kSuccess)
                    return {status, decoded.ip.sourceAddress};
                return {status, decoded.ip.sourceAddress, true,
                        reply_layout::kHeaderSize + decoded.data.size() +
                            decoded.ip.options.size()};
            }
        }
    }
}

} // namespace

EchoExchange::EchoExchange(EchoSocket socket, int watch, bool paced)
    : socket_(socket), watch_(watch), paced_(paced) {
    // The packet starts two bytes before a page boundary, so that the page holding its type
    // and code can be made read-only: with mprotect and mmap forbidden later, and sendto
    // allowed from this address only, no code running here can send another ICMP type.
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t rest = kIcmpHeaderSize - 2 + kLargestEchoData;
    const std::size_t size = page + (rest + page - 1) / page * page;
    void* const area =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        return;
    mapping_ = {static_cast<std::uint8_t*>(area), size};
    const std::span<std::uint8_t> packet = mapping_.subspan(page - 2, rest + 2);
    packet[0] = ICMP_ECHO;
    packet[1] = 0;
    if (mprotect(area, page, PROT_READ) == 0)
        packet_ = packet;
}

EchoExchange::~EchoExchange() {
    if (!mapping_.empty())
        munmap(mapping_.data(), mapping_.size());
}

EchoOutcome EchoExchange::Echo(const EchoRequest& request, std::span<std::uint8_t> record) {
    const auto fail = [record](std::int32_t status, std::uint32_t reportingAddress = 0) {
        return EchoOutcome{0, WriteEchoFailure(record, status, reportingAddress), false};
    };
    // A request that cannot be sent says why whether or not there is a socket to send it on.
    // Linux would answer 0.0.0.0 from the local host: a false success.
    if (request.destination == 0)
        return fail(ip_status::kBadDestination);
    if (record.size() < reply_layout::kHeaderSize + request.data.size())
        return fail(ip_status::kBufTooSmall);
    if (request.data.size() > kLargestEchoData)
        return fail(ip_status::kPacketTooBig);
    if (socket_.kind == SocketKind::None)
        return fail(ip_status::kGeneralFailure);
    if (packet_.empty())
        return fail(ip_status::kGeneralFailure);

    const EchoRequestIdentity identity{socket_.identifier, ++sequence_, request.destination};
    const std::size_t packetSize =
        BuildEchoRequest(packet_, identity.identifier, identity.sequence, request.data);

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    std::uint8_t destinationBytes[4];
    AddressValueToNetworkBytes(request.destination, destinationBytes);
    std::memcpy(&destination.sin_addr.s_addr, destinationBytes, 4);

    if (paced_)
        WaitUntil(nextSend_);
    const std::int64_t start = NowMicroseconds();
    nextSend_ = start + kUserPaceMicroseconds;
    // An ICMP error that came after its echo gave up stays pending on the socket (a raw one
    // also hears of hard errors about others' echoes), and sendto returns it instead of
    // sending. That failure cleared it: only a second one is this request's own.
    ssize_t sent = -1;
    for (int attempt = 0; sent < 0 && attempt < 2; ++attempt) {
        do {
            sent = sendto(socket_.descriptor, packet_.data(), packetSize, 0,
                          reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        } while (sent < 0 && errno == EINTR);
    }
    if (sent < 0)
        return fail(StatusForSocketError(errno));

    const std::int64_t deadline = start + std::int64_t{request.timeoutMilliseconds} * 1000;
    const Outcome outcome = Await(socket_, watch_, identity, start, deadline, record);
    if (outcome.readerGone)
        return {0, 0, true};
    if (!outcome.replied)
        return fail(outcome.status, outcome.reportingAddress);
    return {1, outcome.recordSize, false};
}

} // namespace tarnwick::echo

// ICMP echo datagrams and reply records as bytes; every length is checked before a read.
#include "echo/IcmpPacket.h"

#include <linux/icmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnwick::echo {
namespace {

constexpr int kAnyCode = -1;

struct IcmpErrorStatus {
    std::uint8_t type;
    int code;
    std::int32_t status;
};

// ICMP errors about a request, to the nearest IP status; the first matching row wins.
constexpr IcmpErrorStatus kIcmpErrorStatuses[] = {
    {ICMP_DEST_UNREACH, 0, ip_status::kDestNetUnreachable},
    {ICMP_DEST_UNREACH, 1, ip_status::kDestHostUnreachable},
    {ICMP_DEST_UNREACH, 2, ip_status::kDestProtocolUnreachable},
    {ICMP_DEST_UNREACH, 3, ip_status::kDestPortUnreachable},
    {ICMP_DEST_UNREACH, 4, ip_status::kPacketTooBig},        // fragmentation needed
    {ICMP_DEST_UNREACH, 5, ip_status::kBadRoute},            // source route failed
    {ICMP_DEST_UNREACH, 6, ip_status::kDestNetUnreachable},  // network unknown
    {ICMP_DEST_UNREACH, 9, ip_status::kDestNetUnreachable},  // network prohibited
    {ICMP_DEST_UNREACH, 11, ip_status::kDestNetUnreachable}, // network, for TOS
    // Host unknown, isolated, prohibited, for TOS, precedence, and any future code.
    {ICMP_DEST_UNREACH, kAnyCode, ip_status::kDestHostUnreachable},
    {ICMP_SOURCE_QUENCH, kAnyCode, ip_status::kSourceQuench},
    {ICMP_TIME_EXCEEDED, 1, ip_status::kTtlExpiredReassembly},
    {ICMP_TIME_EXCEEDED, kAnyCode, ip_status::kTtlExpiredTransit},
    {ICMP_PARAMETERPROB, kAnyCode, ip_status::kParameterProblem},
};

struct SocketErrorStatus {
    int errorNumber;
    std::int32_t status;
};

// Local errors of sending or receiving, to the nearest IP status; anything else is a
// general failure.
constexpr SocketErrorStatus kSocketErrorStatuses[] = {
    {ENETUNREACH, ip_status::kDestNetUnreachable}, // no route
    {ENETDOWN, ip_status::kDestNetUnreachable},    // the route's interface is down
    {EHOSTUNREACH, ip_status::kDestHostUnreachable},
    {EHOSTDOWN, ip_status::kDestHostUnreachable},
    {ECONNREFUSED, ip_status::kDestPortUnreachable},
    {EMSGSIZE, ip_status::kPacketTooBig},
    {ENOBUFS, ip_status::kNoResources},
    {ENOMEM, ip_status::kNoResources},
    {EAGAIN, ip_status::kNoResources}, // send queue full
    {ETIMEDOUT, ip_status::kRequestTimedOut},
    {EACCES, ip_status::kBadDestination}, // broadcast address without permission
    {EADDRNOTAVAIL, ip_status::kBadDestination},
    {EINVAL, ip_status::kBadRequest},
    {EPERM, ip_status::kGeneralFailure}, // refused by the local firewall
};

std::uint16_t ReadBig16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

bool IsOurEchoRequest(std::span<const std::uint8_t> icmp, const EchoRequestIdentity& request) {
    return icmp.size() >= kIcmpHeaderSize && icmp[0] == ICMP_ECHO &&
           ReadBig16(icmp, 4) == request.identifier && ReadBig16(icmp, 6) == request.sequence;
}

// The IPv4 header at the start of bytes, when it is sound: returns its length, or 0.
std::size_t IpHeaderLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kIpMinimumHeaderSize || (bytes[0] >> 4) != 4)
        return 0;
    const std::size_t length = std::size_t{bytes[0] & 0x0Fu} * 4;
    if (length < kIpMinimumHeaderSize || length > bytes.size())
        return 0;
    return length;
}

// An ICMP error quotes the start of the datagram it is about: our request's IPv4 header
// and at least the eight bytes of its ICMP header.
bool QuotedDatagramIsOurs(std::span<const std::uint8_t> quoted,
                          const EchoRequestIdentity& request) {
    const std::size_t headerLength = IpHeaderLength(quoted);
    if (headerLength == 0 || quoted[9] != 1) // protocol ICMP
        return false;
    if (AddressValueFromNetworkBytes(quoted.subspan<16, 4>()) != request.destination)
        return false;
    return IsOurEchoRequest(quoted.subspan(headerLength), request);
}

} // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::size_t BuildEchoRequest(std::span<std::uint8_t> out, std::uint16_t identifier,
                             std::uint16_t sequence, std::span<const std::uint8_t> data) {
    const std::size_t size = kIcmpHeaderSize + data.size();
    if (out.size() < size)
        return 0;
    const std::span<std::uint8_t> packet = out.first(size);
    // The echo program's packet area holds them on a read-only page: written only elsewhere.
    if (packet[0] != ICMP_ECHO || packet[1] != 0) {
        packet[0] = ICMP_ECHO;
        packet[1] = 0;
    }
    packet[2] = packet[3] = 0;
    packet[4] = static_cast<std::uint8_t>(identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(identifier);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    std::copy(data.begin(), data.end(), packet.begin() + kIcmpHeaderSize);
    const std::uint16_t checksum = InternetChecksum(packet);
    packet[2] = static_cast<std::uint8_t>(checksum >> 8);
    packet[3] = static_cast<std::uint8_t>(checksum);
    return size;
}

DecodedDatagram DecodeRawDatagram(std::span<const std::uint8_t> datagram,
                                  const EchoRequestIdentity& request) {
    const std::size_t headerLength = IpHeaderLength(datagram);
    if (headerLength == 0)
        return {};
    const std::size_t totalLength = ReadBig16(datagram, 2);
    if (totalLength < headerLength || totalLength > datagram.size())
        return {};
    if (datagram[9] != 1) // protocol ICMP
        return {};
    // A fragment is not a whole message; the kernel reassembles before delivering.
    if ((ReadBig16(datagram, 6) & 0x3FFF) != 0)
        return {};

    const std::span<const std::uint8_t> icmp =
        datagram.subspan(headerLength, totalLength - headerLength);
    if (icmp.size() < kIcmpHeaderSize || InternetChecksum(icmp) != 0)
        return {};

    DecodedDatagram decoded;
    decoded.ip.sourceAddress = AddressValueFromNetworkBytes(datagram.subspan<12, 4>());
    decoded.ip.ttl = datagram[8];
    decoded.ip.tos = datagram[1];
    decoded.ip.flags = static_cast<std::uint8_t>(datagram[6] >> 5);
    decoded.ip.options =
        datagram.subspan(kIpMinimumHeaderSize, headerLength - kIpMinimumHeaderSize);

    if (icmp[0] == ICMP_ECHOREPLY) {
        // Only the host we asked can answer: a matching identifier and sequence from anyone
        // else (another prober's traffic, a forger) is not our reply.
        if (ReadBig16(icmp, 4) != request.identifier || ReadBig16(icmp, 6) != request.sequence ||
            decoded.ip.sourceAddress != request.destination)
            return {};
        decoded.verdict = DatagramVerdict::Reply;
        decoded.data = icmp.subspan(kIcmpHeaderSize);
        return decoded;
    }
    const std::optional<std::int32_t> status = StatusForIcmpError(icmp[0], icmp[1]);
    if (!status || !QuotedDatagramIsOurs(icmp.subspan(kIcmpHeaderSize), request))
        return {};
    decoded.verdict = DatagramVerdict::Error;
    decoded.status = *status;
    return decoded;
}

DecodedDatagram DecodePingMessage(std::span<const std::uint8_t> message, const IpDetails& ip,
                                  const EchoRequestIdentity& request) {
    // A reply that came late to an earlier request of the same socket has another sequence.
    // The kernel matches the identifier only, so the sender is checked here too.
    if (message.size() < kIcmpHeaderSize || message[0] != ICMP_ECHOREPLY ||
        ReadBig16(message, 6) != request.sequence || ip.sourceAddress != request.destination)
        return {};
    DecodedDatagram decoded;
    decoded.verdict = DatagramVerdict::Reply;
    decoded.ip = ip;
    decoded.data = message.subspan(kIcmpHeaderSize);
    return decoded;
}

bool QuotesOurRequest(std::span<const std::uint8_t> quotedRequest,
                      const EchoRequestIdentity& request) {
    return quotedRequest.size() >= kIcmpHeaderSize && quotedRequest[0] == ICMP_ECHO &&
           ReadBig16(quotedRequest, 6) == request.sequence;
}

std::optional<std::int32_t> StatusForIcmpError(std::uint8_t type, std::uint8_t code) {
    for (const IcmpErrorStatus& row : kIcmpErrorStatuses) {
        if (row.type == type && (row.code == kAnyCode || row.code == code))
            return row.status;
    }
    return std::nullopt;
}

std::int32_t StatusForSocketError(int errorNumber) {
    for (const SocketErrorStatus& row : kSocketErrorStatuses) {
        if (row.errorNumber == errorNumber)
            return row.status;
    }
    return ip_status::kGeneralFailure;
}

std::uint32_t AddressValueFromNetworkBytes(std::span<const std::uint8_t, 4> bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

void AddressValueToNetworkBytes(std::uint32_t address, std::span<std::uint8_t, 4> bytes) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(address >> (8 * i));
}

} // namespace tarnwick::echo

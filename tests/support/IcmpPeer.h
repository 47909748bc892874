// ICMP messages and IPv4 datagrams built by hand, as a peer on the network would send them.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;
inline const Bytes kEchoThis{'E', 'c', 'h', 'o', ' ', 'T', 'h', 'i', 's'};

inline Bytes operator+(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}
inline Bytes Big16(std::uint16_t value) {
    return {std::uint8_t(value >> 8), std::uint8_t(value)};
}

// RFC 1071 checksum of all the bytes, written big-endian at `at`; independent of the
// product's own.
inline Bytes WithChecksum(Bytes bytes, std::size_t at = 2) {
    const std::size_t end = bytes.size();
    bytes[at] = bytes[at + 1] = 0;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < end; i += 2)
        sum += std::uint32_t{bytes[i]} << 8 | (i + 1 < end ? bytes[i + 1] : 0);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    bytes[at] = static_cast<std::uint8_t>(~sum >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(~sum);
    return bytes;
}

// An ICMP message: type, code, identifier and sequence (or the unused word), then payload.
inline Bytes IcmpMessage(std::uint8_t type, std::uint8_t code, std::uint16_t id,
                         std::uint16_t sequence, const Bytes& payload = kEchoThis) {
    return WithChecksum(Bytes{type, code, 0, 0} + Big16(id) + Big16(sequence) + payload);
}

// An IPv4 datagram; addresses as the address value (first dotted part in the low byte, which
// is also an in_addr_t's bytes in network order).
struct IpFields {
    std::uint32_t source = 0, destination = 0;
    std::uint8_t protocol = IPPROTO_ICMP, ttl = 64, tos = 0;
    std::uint16_t flagsAndFragment = 0x4000; // don't fragment
    Bytes options;
};

inline Bytes Ipv4(const IpFields& ip, const Bytes& payload) {
    const std::size_t header = 20 + ip.options.size();
    Bytes datagram = Bytes{std::uint8_t(0x40 | header / 4), ip.tos} +
                     Big16(std::uint16_t(header + payload.size())) + Bytes{0xAB, 0xCD} +
                     Big16(ip.flagsAndFragment) + Bytes{ip.ttl, ip.protocol, 0, 0};
    for (const std::uint32_t address : {ip.source, ip.destination})
        for (int i = 0; i < 4; ++i)
            datagram.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    return WithChecksum(datagram + ip.options, 10) + payload;
}

// An ICMP error quoting the IP header and first 8 bytes of an echo request source→destination.
inline Bytes ErrorQuotingRequest(std::uint8_t type, std::uint8_t code, std::uint32_t source,
                                 std::uint32_t destination, std::uint16_t id,
                                 std::uint16_t sequence) {
    Bytes quoted = Ipv4({source, destination, IPPROTO_ICMP, 64, 0, 0x4000, {}},
                        IcmpMessage(8, 0, id, sequence));
    quoted.resize(28);
    return IcmpMessage(type, code, 0, 0, quoted);
}

// Everything a careless prober might take for the answer to its request (source to
// destination, identifier and sequence): others' replies and errors, its own with a bad checksum
// or cut short, errors about other requests. None of it says "Echo This".
inline std::vector<Bytes> Junk(std::uint32_t source, std::uint32_t destination, std::uint16_t id,
                               std::uint16_t seq) {
    const Bytes echoThat{'E', 'c', 'h', 'o', ' ', 'T', 'h', 'a', 't'};
    Bytes badChecksum = IcmpMessage(0, 0, id, seq, echoThat);
    badChecksum[3] ^= 0xFF;
    Bytes cut = IcmpMessage(0, 0, id, seq);
    cut.resize(7);
    return {IcmpMessage(0, 0, id ^ 0x5A5A, seq, echoThat),
            IcmpMessage(0, 0, id, seq - 1, echoThat),
            IcmpMessage(8, 0, id, seq, echoThat),
            IcmpMessage(42, 0, id, seq, echoThat),
            badChecksum,
            WithChecksum(cut),
            ErrorQuotingRequest(3, 1, source, destination, id ^ 0x5A5A, seq),
            ErrorQuotingRequest(11, 0, source, destination, id, seq + 1),
            ErrorQuotingRequest(3, 3, source, 0x63020C0, id, seq)};
}

// Sends an ICMP message from a raw socket to an address value.
inline bool Send(int descriptor, const Bytes& message, std::uint32_t to) {
    const sockaddr_in address{AF_INET, 0, {to}, {}};
    return sendto(descriptor, message.data(), message.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address) > 0;
}

// An ICMP message as a raw socket reads it: type, identifier, sequence and what follows.
struct Heard {
    std::uint8_t type;
    std::uint16_t id, sequence;
    Bytes data;
};

// The next ICMP message (a whole header at least) that a raw socket reads within milliseconds.
inline std::optional<Heard> Hear(int descriptor, int milliseconds) {
    std::uint8_t in[4096];
    pollfd waiting{descriptor, POLLIN, 0};
    const long size = poll(&waiting, 1, milliseconds) > 0 ? recv(descriptor, in, sizeof in, 0) : 0;
    const std::size_t at = size > 0 ? std::size_t{in[0] & 0x0Fu} * 4 : 0; // IP header
    if (at < 20 || size < static_cast<long>(at + 8))
        return std::nullopt;
    return Heard{in[at], static_cast<std::uint16_t>(in[at + 4] << 8 | in[at + 5]),
                 static_cast<std::uint16_t>(in[at + 6] << 8 | in[at + 7]),
                 Bytes(in + at + 8, in + size)};
}

} // namespace tarnwick::testing

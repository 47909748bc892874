// Hand-built ICMP messages for tests that play a peer: echo messages, quoted requests, errors.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bytes = std::vector<std::uint8_t>;

// RFC 1071 checksum, written big-endian at offset 2 of an ICMP message.
inline void SetIcmpChecksum(Bytes& message) {
    if (message.size() < 4)
        return;
    message[2] = message[3] = 0;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < message.size(); i += 2) {
        const std::uint32_t high = message[i];
        const std::uint32_t low = i + 1 < message.size() ? message[i + 1] : 0;
        sum += (high << 8) | low;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const auto checksum = static_cast<std::uint16_t>(~sum);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
}

// An echo message (type 0 reply or 8 request) with a valid checksum.
inline Bytes EchoMessage(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence,
                         const Bytes& data) {
    Bytes message{type,
                  0,
                  0,
                  0,
                  static_cast<std::uint8_t>(identifier >> 8),
                  static_cast<std::uint8_t>(identifier),
                  static_cast<std::uint8_t>(sequence >> 8),
                  static_cast<std::uint8_t>(sequence)};
    message.insert(message.end(), data.begin(), data.end());
    SetIcmpChecksum(message);
    return message;
}

inline Bytes TextBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A 20-byte IPv4 header of an ICMP datagram; addresses in network byte order.
inline Bytes Ipv4Header(in_addr_t source, in_addr_t destination, std::size_t payloadSize) {
    const auto total = static_cast<std::uint16_t>(20 + payloadSize);
    Bytes header{0x45,
                 0,
                 static_cast<std::uint8_t>(total >> 8),
                 static_cast<std::uint8_t>(total),
                 0,
                 0,
                 0x40,
                 0,
                 64,
                 IPPROTO_ICMP,
                 0,
                 0};
    const auto* sourceBytes = reinterpret_cast<const std::uint8_t*>(&source);
    const auto* destinationBytes = reinterpret_cast<const std::uint8_t*>(&destination);
    header.insert(header.end(), sourceBytes, sourceBytes + 4);
    header.insert(header.end(), destinationBytes, destinationBytes + 4);
    return header;
}

// An ICMP error (destination unreachable, time exceeded...) quoting the IP header and the
// first 8 bytes of an echo request that went from source to destination.
inline Bytes ErrorQuotingRequest(std::uint8_t type, std::uint8_t code, in_addr_t source,
                                 in_addr_t destination, std::uint16_t identifier,
                                 std::uint16_t sequence) {
    const Bytes request = EchoMessage(8, identifier, sequence, TextBytes("Echo This"));
    Bytes message{type, code, 0, 0, 0, 0, 0, 0};
    const Bytes quotedHeader = Ipv4Header(source, destination, request.size());
    message.insert(message.end(), quotedHeader.begin(), quotedHeader.end());
    message.insert(message.end(), request.begin(), request.begin() + 8);
    SetIcmpChecksum(message);
    return message;
}

} // namespace tarnwick::testing

// ICMP echo datagrams and reply records as bytes: building, decoding and status mapping.
#pragma once

#include "echo/Contract.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarnwick::echo {

inline constexpr std::size_t kIcmpHeaderSize = 8;
inline constexpr std::size_t kIpMinimumHeaderSize = 20;

// What identifies one request among all ICMP traffic.
struct EchoRequestIdentity {
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    std::uint32_t destination = 0; // address value: first dotted part in the low byte
};

enum class DatagramVerdict {
    Unrelated, // not about our request: keep waiting
    Reply,     // the echo reply to our request
    Error,     // an ICMP error about our request
};

struct DecodedDatagram {
    DatagramVerdict verdict = DatagramVerdict::Unrelated;
    std::int32_t status = 0;            // for Error: the IP status of the ICMP error
    IpDetails ip;                       // Reply: the replying host; Error: the reporting host
    std::span<const std::uint8_t> data; // Reply: the echoed bytes
};

// The Internet checksum (RFC 1071) of bytes, as it stands in the header (big-endian order).
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// Writes an echo request (header with checksum, then data) into out; returns the bytes
// written, or 0 when out is too small. Type and code already in place are not written again.
std::size_t BuildEchoRequest(std::span<std::uint8_t> out, std::uint16_t identifier,
                             std::uint16_t sequence, std::span<const std::uint8_t> data);

// A datagram as a raw ICMP socket delivers it: IPv4 header, then the ICMP message. Whatever
// the socket's filter let through, identifier, sequence and checksum are all checked.
DecodedDatagram DecodeRawDatagram(std::span<const std::uint8_t> datagram,
                                  const EchoRequestIdentity& request);

// A message as a ping socket delivers it: ICMP only, the identifier already matched by the
// kernel; ip comes from the socket's control messages and is passed through.
DecodedDatagram DecodePingMessage(std::span<const std::uint8_t> message, const IpDetails& ip,
                                  const EchoRequestIdentity& request);

// Whether an error queued on a ping socket is about our request: quotedRequest is the
// start of the request as the error quotes it (ICMP header onwards).
bool QuotesOurRequest(std::span<const std::uint8_t> quotedRequest,
                      const EchoRequestIdentity& request);

// The IP status of an ICMP error of this type and code, or none for messages that are not
// errors about a request (redirects, unknown types).
std::optional<std::int32_t> StatusForIcmpError(std::uint8_t type, std::uint8_t code);

// The IP status of a local socket error (errno).
std::int32_t StatusForSocketError(int errorNumber);

// Address value (first dotted part in the low byte) from four bytes in network order, and
// back.
std::uint32_t AddressValueFromNetworkBytes(std::span<const std::uint8_t, 4> bytes);
void AddressValueToNetworkBytes(std::uint32_t address, std::span<std::uint8_t, 4> bytes);

} // namespace tarnwick::echo

// The reply record: what IcmpSendEcho writes into its caller's reply buffer, and what the echo
// program sends back for each echo. Its one writer is here, for success and failure alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>

namespace tarnwick::contract {

// Layout of the reply header at offset 0 of the reply buffer, little-endian; the echoed bytes
// follow at kHeaderSize, the IP options after them. Each field starts where the one before it
// ends, so the offsets below are the whole definition: a field's width is the distance to the
// next one.
namespace reply_layout {
inline constexpr std::size_t kAddress = 0;                    // 32-bit, first dotted part low
inline constexpr std::size_t kStatus = kAddress + 4;          // 32-bit IP status
inline constexpr std::size_t kRoundTripTime = kStatus + 4;    // 32-bit milliseconds
inline constexpr std::size_t kDataSize = kRoundTripTime + 4;  // 16-bit
inline constexpr std::size_t kReserved = kDataSize + 2;       // 16-bit
inline constexpr std::size_t kDataPointer = kReserved + 2;    // 32-bit
inline constexpr std::size_t kTtl = kDataPointer + 4;         // 8-bit
inline constexpr std::size_t kTos = kTtl + 1;                 // 8-bit
inline constexpr std::size_t kFlags = kTos + 1;               // 8-bit
inline constexpr std::size_t kOptionsSize = kFlags + 1;       // 8-bit
inline constexpr std::size_t kOptionsData = kOptionsSize + 1; // 32-bit
inline constexpr std::size_t kHeaderSize = kOptionsData + 4;

// Every field's start in order, then the header's end.
inline constexpr std::size_t kFieldStarts[] = {
    kAddress, kStatus, kRoundTripTime, kDataSize,    kReserved,    kDataPointer,
    kTtl,     kTos,    kFlags,         kOptionsSize, kOptionsData, kHeaderSize};

// The width in bytes of the field that starts at offset (0 for no field's start).
constexpr std::size_t Width(std::size_t offset) {
    for (std::size_t i = 0; i + 1 < std::size(kFieldStarts); ++i) {
        if (kFieldStarts[i] == offset)
            return kFieldStarts[i + 1] - offset;
    }
    return 0;
}
static_assert(kHeaderSize == 28);
} // namespace reply_layout

// IP status codes written into a reply's Status field.
namespace ip_status {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kBufTooSmall = 11001;
inline constexpr std::int32_t kDestNetUnreachable = 11002;
inline constexpr std::int32_t kDestHostUnreachable = 11003;
inline constexpr std::int32_t kDestProtocolUnreachable = 11004;
inline constexpr std::int32_t kDestPortUnreachable = 11005;
inline constexpr std::int32_t kNoResources = 11006;
inline constexpr std::int32_t kBadOption = 11007;
inline constexpr std::int32_t kHardwareError = 11008;
inline constexpr std::int32_t kPacketTooBig = 11009;
inline constexpr std::int32_t kRequestTimedOut = 11010;
inline constexpr std::int32_t kBadRequest = 11011;
inline constexpr std::int32_t kBadRoute = 11012;
inline constexpr std::int32_t kTtlExpiredTransit = 11013;
inline constexpr std::int32_t kTtlExpiredReassembly = 11014;
inline constexpr std::int32_t kParameterProblem = 11015;
inline constexpr std::int32_t kSourceQuench = 11016;
inline constexpr std::int32_t kOptionTooBig = 11017;
inline constexpr std::int32_t kBadDestination = 11018;
inline constexpr std::int32_t kGeneralFailure = 11050;
} // namespace ip_status

// Why no ICMP socket, and so no handle, could be had.
enum class OpenFailure : std::uint8_t {
    None = 0,           // there is one
    NotPermitted = 1,   // this user may open neither kind of ICMP socket
    Unavailable = 2,    // the system could not open one (out of descriptors or memory, no ICMP)
    ProgramMissing = 3, // the echo program is not installed or cannot start (the client's own)
};

// What the reply's IP header said, as the record carries it. Views point into the datagram.
struct IpDetails {
    std::uint32_t sourceAddress = 0; // address value
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0; // the three header flag bits: 2 = don't fragment, 1 = more fragments
    std::span<const std::uint8_t> options;
};

// Writes a successful reply into the reply buffer: the header at the layout offsets, the
// echoed data at the data offset and the options right after it; the data and options
// pointers hold their offsets from the record's start (options: 0 when there are none). When
// the data and options do not fit, writes a failure with the buffer-too-small status instead.
// Returns the status written.
std::int32_t WriteEchoReply(std::span<std::uint8_t> buffer, const IpDetails& ip,
                            std::span<const std::uint8_t> data, std::uint32_t roundTripTime);

// Writes a failure header: the status and the reporting address, every other header field
// zero. Writes only whole fields that fit in the buffer; returns the bytes written.
std::size_t WriteEchoFailure(std::span<std::uint8_t> buffer, std::int32_t status,
                             std::uint32_t reportingAddress = 0);

// Where the record has landed in its caller's buffer, turns the offsets into what a caller of
// the service gets: the low 32 bits of where the data and options lie in that buffer.
void PointIntoBuffer(std::span<std::uint8_t> record);

} // namespace tarnwick::contract

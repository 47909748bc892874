// ICMP echo service with the IcmpCreateFile/IcmpSendEcho/IcmpCloseHandle contract.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

namespace tarnwick::platform {

// Layout of the reply header that IcmpSendEcho writes at offset 0 of the reply buffer,
// little-endian; the echoed bytes follow at kHeaderSize. Each field starts where the one before
// it ends, so the offsets below are the whole definition: a field's width is the distance to the
// next one, and the record writer and EchoReply both derive from them.
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

// Why IcmpCreateFile gave no handle.
enum class IcmpOpenFailure {
    None,           // it gave one
    NotPermitted,   // this user may open neither kind of ICMP socket
    Unavailable,    // the system could not open one (out of descriptors or memory, no ICMP)
    ProgramMissing, // the program that sends the echoes is not installed or cannot start
};

using IcmpHandle = std::intptr_t;
inline constexpr IcmpHandle kInvalidIcmpHandle = -1;

class IcmpService {
public:
    virtual ~IcmpService() = default;

    // A handle for echo requests, or kInvalidIcmpHandle when none can be opened.
    virtual IcmpHandle IcmpCreateFile() = 0;
    // Why the most recent IcmpCreateFile returned kInvalidIcmpHandle; None after a handle.
    virtual IcmpOpenFailure LastOpenFailure() const = 0;

    // Sends one echo request to destinationAddress (the address value: first dotted part in
    // the low byte) and waits up to timeoutMilliseconds. Returns the number of replies stored
    // in replyBuffer (0 or 1). On failure writes the failure's status into the reply's Status
    // field when replySize leaves room for it, and that status is never success (0); never
    // writes past replySize.
    virtual std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destinationAddress,
                                       const void* requestData, std::uint16_t requestSize,
                                       const void* requestOptions, void* replyBuffer,
                                       std::uint32_t replySize,
                                       std::uint32_t timeoutMilliseconds) = 0;

    virtual bool IcmpCloseHandle(IcmpHandle handle) = 0;

    // The file that a CAP_NET_RAW grant lets echo, named when telling the user how to allow
    // pinging.
    virtual std::string EchoProgramPath() const = 0;
};

// The process-wide echo service of this platform.
IcmpService& SystemIcmpService();

} // namespace tarnwick::platform

// The 278-byte echo reply record shared by the echo probe and the main window.
#pragma once

#include "platform/Icmp.h"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tarnwick {

inline constexpr std::size_t kEchoDataSize = 250;
inline constexpr std::size_t kEchoReplySize = 278;

#pragma pack(push, 1)
// Exchanged with the echo service byte for byte: little-endian, no padding.
struct EchoReply {
    std::int32_t Address;       // replying address, first dotted part in the low byte
    std::int32_t Status;        // 0 for success, otherwise an IP status code
    std::int32_t RoundTripTime; // milliseconds
    std::int16_t DataSize;      // echoed bytes
    std::int16_t Reserved;
    std::int32_t DataPointer; // the service's pointer into its buffer; a number only
    std::uint8_t Ttl;
    std::uint8_t Tos;
    std::uint8_t Flags;
    std::uint8_t OptionsSize;
    std::int32_t OptionsData;
    char Data[kEchoDataSize]; // echoed bytes, NUL after them
};
#pragma pack(pop)

// The record is copied to and from the service's buffer as raw bytes, so its layout must be
// exactly the service's.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(EchoReply) == kEchoReplySize);
static_assert(offsetof(EchoReply, Address) == platform::reply_layout::kAddress);
static_assert(offsetof(EchoReply, Status) == platform::reply_layout::kStatus);
static_assert(offsetof(EchoReply, RoundTripTime) == platform::reply_layout::kRoundTripTime);
static_assert(offsetof(EchoReply, DataSize) == platform::reply_layout::kDataSize);
static_assert(offsetof(EchoReply, Reserved) == platform::reply_layout::kReserved);
static_assert(offsetof(EchoReply, DataPointer) == platform::reply_layout::kDataPointer);
static_assert(offsetof(EchoReply, Ttl) == platform::reply_layout::kTtl);
static_assert(offsetof(EchoReply, Tos) == platform::reply_layout::kTos);
static_assert(offsetof(EchoReply, Flags) == platform::reply_layout::kFlags);
static_assert(offsetof(EchoReply, OptionsSize) == platform::reply_layout::kOptionsSize);
static_assert(offsetof(EchoReply, OptionsData) == platform::reply_layout::kOptionsData);
static_assert(offsetof(EchoReply, Data) == platform::reply_layout::kHeaderSize);

} // namespace tarnwick

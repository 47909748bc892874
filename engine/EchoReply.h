// The 278-byte echo reply record shared by the echo probe and the main window.
#pragma once

#include "platform/Icmp.h"

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tarnwick {

inline constexpr std::size_t kEchoDataSize = 250;

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

// The record is copied to and from the service's buffer as raw bytes, so each field must lie
// exactly where the service's layout puts it, at its width.
#define TARNWICK_AT(field, offset)                                                                 \
    static_assert(offsetof(EchoReply, field) == contract::reply_layout::offset &&                  \
                  sizeof(EchoReply::field) ==                                                      \
                      contract::reply_layout::Width(contract::reply_layout::offset))
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(EchoReply) == contract::reply_layout::kHeaderSize + kEchoDataSize);
TARNWICK_AT(Address, kAddress);
TARNWICK_AT(Status, kStatus);
TARNWICK_AT(RoundTripTime, kRoundTripTime);
TARNWICK_AT(DataSize, kDataSize);
TARNWICK_AT(Reserved, kReserved);
TARNWICK_AT(DataPointer, kDataPointer);
TARNWICK_AT(Ttl, kTtl);
TARNWICK_AT(Tos, kTos);
TARNWICK_AT(Flags, kFlags);
TARNWICK_AT(OptionsSize, kOptionsSize);
TARNWICK_AT(OptionsData, kOptionsData);
#undef TARNWICK_AT
static_assert(offsetof(EchoReply, Data) == contract::reply_layout::kHeaderSize);

} // namespace tarnwick

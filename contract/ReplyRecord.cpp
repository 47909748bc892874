// The record's fields are written byte by byte, little-endian, as the layout says.
#include "contract/ReplyRecord.h"

#include <algorithm>
#include <cstring>

namespace tarnwick::contract {
namespace {

// Writes value into the header field that starts at offset, at that field's width.
void Put(std::span<std::uint8_t> buffer, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < reply_layout::Width(offset); ++i)
        buffer[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The field that starts at offset, read at its width.
std::uint32_t Get(std::span<const std::uint8_t> buffer, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < reply_layout::Width(offset); ++i)
        value |= std::uint32_t{buffer[offset + i]} << (8 * i);
    return value;
}

} // namespace

std::int32_t WriteEchoReply(std::span<std::uint8_t> buffer, const IpDetails& ip,
                            std::span<const std::uint8_t> data, std::uint32_t roundTripTime) {
    using namespace reply_layout;
    const std::size_t needed = kHeaderSize + data.size() + ip.options.size();
    if (buffer.size() < needed || data.size() > 0xFFFF || ip.options.size() > 0xFF) {
        WriteEchoFailure(buffer, ip_status::kBufTooSmall, ip.sourceAddress);
        return ip_status::kBufTooSmall;
    }
    const std::size_t optionsStart = kHeaderSize + data.size();
    std::copy(data.begin(), data.end(), buffer.begin() + kHeaderSize);
    std::copy(ip.options.begin(), ip.options.end(), buffer.begin() + optionsStart);

    Put(buffer, kAddress, ip.sourceAddress);
    Put(buffer, kStatus, static_cast<std::uint32_t>(ip_status::kSuccess));
    Put(buffer, kRoundTripTime, roundTripTime);
    Put(buffer, kDataSize, static_cast<std::uint32_t>(data.size()));
    Put(buffer, kReserved, 0);
    // Offsets from the record's start until PointIntoBuffer: no address of the echo program
    // leaves it.
    Put(buffer, kDataPointer, kHeaderSize);
    Put(buffer, kTtl, ip.ttl);
    Put(buffer, kTos, ip.tos);
    Put(buffer, kFlags, ip.flags);
    Put(buffer, kOptionsSize, static_cast<std::uint32_t>(ip.options.size()));
    Put(buffer, kOptionsData, ip.options.empty() ? 0 : static_cast<std::uint32_t>(optionsStart));
    return ip_status::kSuccess;
}

std::size_t WriteEchoFailure(std::span<std::uint8_t> buffer, std::int32_t status,
                             std::uint32_t reportingAddress) {
    using namespace reply_layout;
    std::uint8_t header[kHeaderSize] = {};
    const std::span<std::uint8_t> headerBytes(header);
    Put(headerBytes, kAddress, reportingAddress);
    Put(headerBytes, kStatus, static_cast<std::uint32_t>(status));
    // A field is written whole or not at all: up to the last field end that fits.
    std::size_t writable = 0;
    for (const std::size_t end : kFieldStarts) {
        if (end <= buffer.size())
            writable = end;
    }
    if (writable > 0)
        std::memcpy(buffer.data(), header, writable);
    return writable;
}

void PointIntoBuffer(std::span<std::uint8_t> record) {
    const auto base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record.data()));
    for (const std::size_t field : {reply_layout::kDataPointer, reply_layout::kOptionsData}) {
        if (record.size() >= field + reply_layout::Width(field) && Get(record, field) != 0)
            Put(record, field, Get(record, field) + base);
    }
}

} // namespace tarnwick::contract

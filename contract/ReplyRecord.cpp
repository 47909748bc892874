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

std::uint32_t Low32BitsOfAddress(const std::uint8_t* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
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
    std::uint8_t* const dataStart = buffer.data() + kHeaderSize;
    std::uint8_t* const optionsStart = dataStart + data.size();
    std::copy(data.begin(), data.end(), dataStart);
    std::copy(ip.options.begin(), ip.options.end(), optionsStart);

    Put(buffer, kAddress, ip.sourceAddress);
    Put(buffer, kStatus, static_cast<std::uint32_t>(ip_status::kSuccess));
    Put(buffer, kRoundTripTime, roundTripTime);
    Put(buffer, kDataSize, static_cast<std::uint32_t>(data.size()));
    Put(buffer, kReserved, 0);
    Put(buffer, kDataPointer, Low32BitsOfAddress(dataStart));
    Put(buffer, kTtl, ip.ttl);
    Put(buffer, kTos, ip.tos);
    Put(buffer, kFlags, ip.flags);
    Put(buffer, kOptionsSize, static_cast<std::uint32_t>(ip.options.size()));
    Put(buffer, kOptionsData, ip.options.empty() ? 0 : Low32BitsOfAddress(optionsStart));
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

} // namespace tarnwick::contract

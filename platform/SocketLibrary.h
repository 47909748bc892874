// Socket library start-up and clean-up with the WSAStartup/WSACleanup contract.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnwick::platform {

// The 400-byte start-up record; only the fields below are read by callers.
inline constexpr std::size_t kWsaDataSize = 400;
inline constexpr std::size_t kWsaVersionOffset = 0;      // 16-bit, major in low byte
inline constexpr std::size_t kWsaHighVersionOffset = 2;  // 16-bit
inline constexpr std::size_t kWsaMaxSocketsOffset = 390; // unsigned 16-bit
using WsaData = std::array<std::uint8_t, kWsaDataSize>;

// Little-endian 16-bit access to the record, independent of the host's byte order.
inline std::uint16_t ReadWord(const WsaData& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data.at(offset) | (data.at(offset + 1) << 8));
}
inline void WriteWord(WsaData& data, std::size_t offset, std::uint16_t value) {
    data.at(offset) = static_cast<std::uint8_t>(value & 0xFF);
    data.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

class SocketLibrary {
public:
    virtual ~SocketLibrary() = default;
    // 0 on success, an error code otherwise; on success fills the record.
    virtual std::int32_t WSAStartup(std::uint16_t requestedVersion, WsaData& data) = 0;
    // 0 on success; -1 when there is no start-up left to end.
    virtual std::int32_t WSACleanup() = 0;
};

// The process-wide library of this platform.
SocketLibrary& SystemSocketLibrary();

} // namespace tarnwick::platform

// Byte-order-independent access to the socket library's start-up record.
#include "platform/SocketLibrary.h"

namespace tarnwick::platform {

std::uint16_t ReadWord(const WsaData& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data.at(offset) | (data.at(offset + 1) << 8));
}

void WriteWord(WsaData& data, std::size_t offset, std::uint16_t value) {
    data.at(offset) = static_cast<std::uint8_t>(value & 0xFF);
    data.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

} // namespace tarnwick::platform

// Echo service for tests: records each call and writes a scripted reply.
#pragma once

#include "platform/Icmp.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick::testing {

class FakeIcmpService final : public platform::IcmpService {
public:
    struct SendCall {
        platform::IcmpHandle handle;
        std::uint32_t destination;
        std::string requestData;
        const void* requestOptions;
        std::uint32_t replySize;
        std::uint32_t timeout;
        std::vector<std::uint8_t> bufferBefore;
    };

    // Writes the reply into the buffer and returns the number of replies.
    std::function<std::uint32_t(std::uint8_t* buffer, std::uint32_t size)> reply =
        [](std::uint8_t*, std::uint32_t) { return 0u; };

    platform::IcmpHandle IcmpCreateFile() override {
        ++opened;
        return nextHandle;
    }
    std::uint32_t IcmpSendEcho(platform::IcmpHandle handle, std::uint32_t destination,
                               const void* requestData, std::uint16_t requestSize,
                               const void* requestOptions, void* replyBuffer,
                               std::uint32_t replySize, std::uint32_t timeout) override {
        auto* bytes = static_cast<std::uint8_t*>(replyBuffer);
        sends.push_back({handle, destination,
                         std::string(static_cast<const char*>(requestData), requestSize),
                         requestOptions, replySize, timeout,
                         std::vector<std::uint8_t>(bytes, bytes + replySize)});
        return reply(bytes, replySize);
    }
    platform::IcmpOpenFailure LastOpenFailure() const override { return openFailure; }
    bool IcmpCloseHandle(platform::IcmpHandle handle) override {
        closed.push_back(handle);
        return true;
    }

    platform::IcmpHandle nextHandle = 7;
    platform::IcmpOpenFailure openFailure = platform::IcmpOpenFailure::None;
    int opened = 0;
    std::vector<SendCall> sends;
    std::vector<platform::IcmpHandle> closed;
};

// Little-endian writers for scripted replies.
inline void PutInt32(std::uint8_t* buffer, std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        buffer[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}
inline void PutInt16(std::uint8_t* buffer, std::size_t offset, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    buffer[offset] = static_cast<std::uint8_t>(bits);
    buffer[offset + 1] = static_cast<std::uint8_t>(bits >> 8);
}

} // namespace tarnwick::testing

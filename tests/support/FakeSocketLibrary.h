// Socket library for tests: grants a chosen version and socket count, or fails.
#pragma once

#include "platform/SocketLibrary.h"

namespace tarnwick::testing {

class FakeSocketLibrary final : public platform::SocketLibrary {
public:
    std::int32_t startupResult = 0;
    std::uint16_t grantedVersion = 0x0101;
    std::uint16_t maxSockets = 100;
    int startups = 0;
    int cleanups = 0;

    std::int32_t WSAStartup(std::uint16_t requestedVersion, platform::WsaData& data) override {
        lastRequestedVersion = requestedVersion;
        if (startupResult != 0)
            return startupResult;
        ++startups;
        platform::WriteWord(data, platform::kWsaVersionOffset, grantedVersion);
        platform::WriteWord(data, platform::kWsaMaxSocketsOffset, maxSockets);
        return 0;
    }
    std::int32_t WSACleanup() override {
        ++cleanups;
        if (startups == 0)
            return -1;
        --startups;
        return 0;
    }
    std::uint16_t lastRequestedVersion = 0;
};

} // namespace tarnwick::testing

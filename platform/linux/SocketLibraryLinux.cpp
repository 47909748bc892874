// Linux has no socket library to start: this layer keeps the start-up count and reports
// what the process may really open.
#include "platform/SocketLibrary.h"

#include <sys/resource.h>

#include <algorithm>
#include <mutex>

namespace tarnwick::platform {
namespace {

constexpr std::int32_t kVersionNotSupported = 10092; // WSAVERNOTSUPPORTED
constexpr std::uint16_t kHighestVersion = 0x0101;    // 1.1

std::uint16_t OpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 65535;
    return static_cast<std::uint16_t>(std::min<rlim_t>(limit.rlim_cur, 65535));
}

class LinuxSocketLibrary final : public SocketLibrary {
public:
    std::int32_t WSAStartup(std::uint16_t requestedVersion, WsaData& data) override {
        const std::uint8_t major = requestedVersion & 0xFF;
        const std::uint8_t minor = requestedVersion >> 8;
        if (major < 1)
            return kVersionNotSupported;
        // Grant what was asked for, but never more than we speak.
        const bool aboveHighest = major > 1 || (major == 1 && minor > 1);
        data.fill(0);
        WriteWord(data, kWsaVersionOffset, aboveHighest ? kHighestVersion : requestedVersion);
        WriteWord(data, kWsaHighVersionOffset, kHighestVersion);
        WriteWord(data, kWsaMaxSocketsOffset, OpenFileLimit());
        std::lock_guard lock(mutex_);
        ++startups_;
        return 0;
    }

    std::int32_t WSACleanup() override {
        std::lock_guard lock(mutex_);
        if (startups_ == 0)
            return -1;
        --startups_;
        return 0;
    }

private:
    std::mutex mutex_;
    long startups_ = 0;
};

} // namespace

SocketLibrary& SystemSocketLibrary() {
    static LinuxSocketLibrary library;
    return library;
}

} // namespace tarnwick::platform

// Scripted stand-ins for the OS services, recording how they were called.
#pragma once

#include "platform/Icmp.h"
#include "platform/LocalAddress.h"
#include "platform/MemoryRegistry.h"
#include "platform/MessageDialog.h"
#include "platform/ProgramStarter.h"
#include "platform/Shell.h"
#include "platform/SocketLibrary.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace tarnwick::testing {

// Records each echo request and writes a scripted reply; handles are always 7, or none while
// openFailure says why.
struct FakeIcmpService final : platform::IcmpService {
    struct SendCall {
        std::uint32_t destination;
        std::string requestData;
        const void* requestOptions;
        std::uint32_t replySize, timeout;
        std::vector<std::uint8_t> bufferBefore;
    };
    // Writes the reply into the buffer and returns the number of replies.
    std::function<std::uint32_t(std::uint8_t* buffer)> reply = [](std::uint8_t*) { return 0u; };
    int opened = 0;
    std::vector<SendCall> sends;
    std::vector<platform::IcmpHandle> closed;

    contract::OpenFailure openFailure = contract::OpenFailure::None;

    platform::IcmpHandle IcmpCreateFile() override {
        ++opened;
        return openFailure == contract::OpenFailure::None ? 7 : platform::kInvalidIcmpHandle;
    }
    contract::OpenFailure LastOpenFailure() const override { return openFailure; }
    std::uint32_t IcmpSendEcho(platform::IcmpHandle, std::uint32_t destination, const void* data,
                               std::uint16_t size, const void* options, void* buffer,
                               std::uint32_t replySize, std::uint32_t timeout) override {
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        const std::string text(static_cast<const char*>(data), size);
        sends.push_back(
            {destination, text, options, replySize, timeout, {bytes, bytes + replySize}});
        return reply(bytes);
    }
    bool IcmpCloseHandle(platform::IcmpHandle handle) override {
        closed.push_back(handle);
        return true;
    }
    std::string EchoProgramPath() const override { return "/opt/fake/tarnwick-echo"; }
};

// Little-endian writer for scripted replies.
inline void Put(std::uint8_t* buffer, std::size_t offset, std::int32_t value, int width = 4) {
    for (int i = 0; i < width; ++i)
        buffer[offset + i] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}

// Grants a chosen version and socket count, or fails; counts start-ups still open.
struct FakeSocketLibrary final : platform::SocketLibrary {
    std::int32_t startupResult = 0;
    std::uint16_t grantedVersion = 0x0101, maxSockets = 100, lastRequestedVersion = 0;
    int startups = 0, cleanups = 0;

    std::int32_t WSAStartup(std::uint16_t requestedVersion, platform::WsaData& data) override {
        lastRequestedVersion = requestedVersion;
        if (startupResult != 0)
            return startupResult;
        ++startups;
        platform::WriteWord(data, platform::kWsaVersionOffset, grantedVersion);
        platform::WriteWord(data, platform::kWsaMaxSocketsOffset, maxSockets);
        return 0;
    }
    std::int32_t WSACleanup() override { return ++cleanups, startups == 0 ? -1 : (--startups, 0); }
};

struct FakeLocalAddress final : platform::LocalAddress {
    std::string LocalIP() override { return ++reads, "10.1.2.3"; }
    int reads = 0;
};

struct ShownMessage {
    std::string prompt;
    platform::MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

// Records every message instead of showing it.
struct RecordingMessageDialog final : platform::MessageDialog {
    void Show(const std::string& prompt, platform::MessageIcon icon) override {
        shown.push_back({prompt, icon});
        if (onShow)
            onShow();
    }
    std::vector<ShownMessage> shown;
    std::function<void()> onShow; // runs while the message is up
};

// Records each start; fails, as a real one would, for a program that is not a file.
struct RecordingProgramStarter final : platform::ProgramStarter {
    std::int64_t StartProgram(const std::string& commandLine, int windowStyle) override {
        attempts.push_back(commandLine + " @" + std::to_string(windowStyle));
        const std::vector<std::string> words = platform::SplitCommandLine(commandLine);
        if (words.empty() || !std::filesystem::is_regular_file(words.front()))
            throw std::system_error(ENOENT, std::generic_category(), "cannot start");
        started.push_back(attempts.back());
        return 4242;
    }
    std::vector<std::string> attempts, started; // "command line @window style"
};

// Records every request to open something instead of starting a browser.
struct RecordingShell final : platform::Shell {
    std::intptr_t ShellExecuteA(platform::WindowHandle owner, const char* operation,
                                const std::string& file, const char* parameters,
                                const char* directory, int show) override {
        requests.push_back(std::string(operation) + " " + file +
                           (parameters ? " +parameters" : "") + (directory ? " +directory" : "") +
                           " " + std::to_string(show));
        owners.push_back(owner);
        return result;
    }
    std::intptr_t result = platform::kShellStarted;
    std::vector<std::string> requests; // "operation file show"
    std::vector<platform::WindowHandle> owners;
};

} // namespace tarnwick::testing

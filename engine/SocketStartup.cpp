// Socket library start-up and clean-up.
#include "engine/SocketStartup.h"

#include <string>

namespace tarnwick {

using platform::MessageIcon;

TruthValue StartSockets(platform::SocketLibrary& library, platform::MessageDialog& messages) {
    platform::WsaData data{};
    if (library.WSAStartup(kRequestedSocketVersion, data) != 0) {
        messages.Show("Windows Sockets for 32 bit Windows environments is not successfully "
                      "responding.",
                      MessageIcon::None);
        return kFalse;
    }
    const std::uint16_t version = platform::ReadWord(data, platform::kWsaVersionOffset);
    const int major = version & 0xFF;
    const int minor = version >> 8;
    if (major < 1 || (major == 1 && minor < 1)) {
        messages.Show("Windows Sockets Version " + std::to_string(major) + "." +
                          std::to_string(minor) +
                          " is not supported by Windows Sockets for 32 bit Windows environments.",
                      MessageIcon::Exclamation);
        return kFalse;
    }
    if (platform::ReadWord(data, platform::kWsaMaxSocketsOffset) < kMinimumSockets) {
        messages.Show("This application requires a minimum of " + std::to_string(kMinimumSockets) +
                          " supported sockets.",
                      MessageIcon::Exclamation);
        return kFalse;
    }
    return kTrue;
}

TruthValue CleanupSockets(platform::SocketLibrary& library, platform::MessageDialog& messages) {
    const std::int32_t result = library.WSACleanup();
    if (result == 0)
        return kTrue;
    messages.Show("Windows Sockets error " + std::to_string(result) + " occurred in Cleanup.",
                  MessageIcon::Exclamation);
    return kFalse;
}

} // namespace tarnwick

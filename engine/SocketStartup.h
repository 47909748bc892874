// Starting and ending the socket library around each echo, with the user told of failures.
#pragma once

#include "platform/MessageDialog.h"
#include "platform/SocketLibrary.h"

#include <cstdint>

namespace tarnwick {

// Truth values of the socket library's start and end: true is -1, false is 0.
using TruthValue = std::int16_t;
inline constexpr TruthValue kTrue = -1;
inline constexpr TruthValue kFalse = 0;

inline constexpr std::uint16_t kRequestedSocketVersion = 257; // 1.1
inline constexpr int kMinimumSockets = 1;

// Requests version 1.1; tells the user and returns false when the library does not start,
// grants less than 1.1, or offers no sockets. A start-up that succeeded stays started.
TruthValue StartSockets(platform::SocketLibrary& library, platform::MessageDialog& messages);

// Ends one start-up; tells the user and returns false when the library refuses.
TruthValue CleanupSockets(platform::SocketLibrary& library, platform::MessageDialog& messages);

} // namespace tarnwick

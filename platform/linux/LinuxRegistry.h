// What the Linux registry view holds: the system-information program found in PATH.
#pragma once

#include "platform/MemoryRegistry.h"

#include <string>

namespace tarnwick::platform {

// The full path of the first system-information program (hardinfo, gnome-system-monitor, ...)
// found as an executable file in the absolute folders of `searchPath` (a PATH list); the empty
// text when none is installed.
std::string FindSystemInformationProgram(const std::string& searchPath);

} // namespace tarnwick::platform

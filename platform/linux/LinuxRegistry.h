// What the Linux registry view holds: the system-information program found in PATH.
#pragma once

#include "platform/MemoryRegistry.h"

#include <array>
#include <string>

namespace tarnwick::platform {

// System-information programs, most wanted first.
inline constexpr std::array<const char*, 9> kSystemInformationPrograms = {"hardinfo",
                                                                          "gnome-system-monitor",
                                                                          "kinfocenter",
                                                                          "plasma-systemmonitor",
                                                                          "mate-system-monitor",
                                                                          "xfce4-taskmanager",
                                                                          "lxtask",
                                                                          "lshw-gtk",
                                                                          "cpu-x"};

// The full path of the first of those programs found as an executable file in the absolute
// folders of `searchPath` (a PATH list); the empty text when none is installed.
std::string FindSystemInformationProgram(const std::string& searchPath);

// Puts the found program's path into the view as the path value, or removes the key when none
// is found.
void RefreshSystemInformationKey(MemoryRegistry& view, const std::string& searchPath);

} // namespace tarnwick::platform

// A process's open descriptors, as /proc shows them.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>

namespace tarnwick::testing {

// Each number with where it leads ("pipe:[inode]", a path...).
inline std::map<int, std::string> OpenDescriptors(pid_t pid) {
    std::map<int, std::string> descriptors;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        descriptors[std::stoi(entry.path().filename())] =
            std::filesystem::read_symlink(entry, error).string();
    return descriptors;
}

} // namespace tarnwick::testing

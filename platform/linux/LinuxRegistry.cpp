// The Linux registry view: re-read on every open so that a program installed meanwhile counts.
#include "platform/linux/LinuxRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <sstream>

namespace tarnwick::platform {
namespace {

// System-information programs, most wanted first.
constexpr const char* kSystemInformationPrograms[] = {"hardinfo",
                                                      "gnome-system-monitor",
                                                      "kinfocenter",
                                                      "plasma-systemmonitor",
                                                      "mate-system-monitor",
                                                      "xfce4-taskmanager",
                                                      "lxtask",
                                                      "lshw-gtk",
                                                      "cpu-x"};

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string ProcessSearchPath() {
    if (const char* path = std::getenv("PATH"))
        return path;
    std::string fallback(confstr(_CS_PATH, nullptr, 0), '\0');
    confstr(_CS_PATH, fallback.data(), fallback.size());
    fallback.resize(fallback.find('\0'));
    return fallback;
}

class LinuxRegistry final : public MemoryRegistry {
public:
    std::int32_t RegOpenKeyExA(RegistryKey key, const std::string& subKey, std::uint32_t options,
                               std::uint32_t accessMask, RegistryKey& result) override {
        std::lock_guard lock(mutex_);
        // The found program's path as the path value, or no key when none is found.
        const std::string program = FindSystemInformationProgram(ProcessSearchPath());
        if (program.empty())
            RemoveKey(kHkeyLocalMachine, kSysInfoPathKey);
        else
            SetValue(kHkeyLocalMachine, kSysInfoPathKey, kSysInfoPathValue, kRegSz,
                     TextValueBytes(program));
        return MemoryRegistry::RegOpenKeyExA(key, subKey, options, accessMask, result);
    }
    std::int32_t RegQueryValueExA(RegistryKey key, const std::string& valueName,
                                  std::uint32_t reserved, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* dataSize) override {
        std::lock_guard lock(mutex_);
        return MemoryRegistry::RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    }
    std::int32_t RegCloseKey(RegistryKey key) override {
        std::lock_guard lock(mutex_);
        return MemoryRegistry::RegCloseKey(key);
    }

private:
    std::mutex mutex_;
};

} // namespace

std::string FindSystemInformationProgram(const std::string& searchPath) {
    for (const char* program : kSystemInformationPrograms) {
        std::istringstream folders(searchPath);
        std::string folder;
        while (std::getline(folders, folder, ':')) {
            // A relative folder would make the path depend on the working directory.
            if (folder.empty() || folder.front() != '/')
                continue;
            if (folder.back() != '/')
                folder += '/';
            if (IsExecutableFile(folder + program))
                return folder + program;
        }
    }
    return {};
}

Registry& SystemRegistry() {
    static LinuxRegistry registry;
    return registry;
}

} // namespace tarnwick::platform

// Finding a file on Linux: stat the path; dot names are the hidden files.
#include "platform/FileFinder.h"

#include <sys/stat.h>

#include <algorithm>

namespace tarnwick::platform {
namespace {

class LinuxFileFinder final : public FileFinder {
public:
    std::string FindFile(const std::string& path, int attributes) override {
        if (path.empty() || path.find('\0') != std::string::npos)
            return {};
        std::string native = path;
        std::replace(native.begin(), native.end(), '\\', '/');
        if (native.back() == '/')
            return {};
        const std::string name = native.substr(native.rfind('/') + 1);
        struct stat info {};
        if (stat(native.c_str(), &info) != 0)
            return {};
        if (name.front() == '.' && (attributes & kAttributeHidden) == 0)
            return {};
        if (S_ISREG(info.st_mode))
            return name;
        if (S_ISDIR(info.st_mode))
            return (attributes & kAttributeDirectory) != 0 ? name : std::string();
        // Devices, pipes and sockets are what this platform has of system files.
        return (attributes & kAttributeSystem) != 0 ? name : std::string();
    }
};

} // namespace

FileFinder& SystemFileFinder() {
    static LinuxFileFinder finder;
    return finder;
}

} // namespace tarnwick::platform

// Starting a program on Linux: split the command line and spawn it detached.
#include "platform/ProgramStarter.h"
#include "platform/linux/DetachedSpawn.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tarnwick::platform {
namespace {

// As Windows reads a command line without quotes: one that names a file as a whole, blanks
// included, is that program alone (a path read from the registry comes just so).
std::vector<std::string> ProgramAndArguments(const std::string& commandLine) {
    std::string path = commandLine;
    std::replace(path.begin(), path.end(), '\\', '/');
    struct stat info {};
    if (path.find('"') == std::string::npos && stat(path.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode))
        return {path};
    return SplitCommandLine(commandLine);
}

class LinuxProgramStarter final : public ProgramStarter {
public:
    // The window style has no meaning for X11 or Wayland clients started from here.
    std::int64_t StartProgram(const std::string& commandLine, int) override {
        if (commandLine.find('\0') != std::string::npos)
            throw std::system_error(EINVAL, std::generic_category(), "command line holds a NUL");
        const std::vector<std::string> words = ProgramAndArguments(commandLine);
        if (words.empty())
            throw std::system_error(ENOENT, std::generic_category(), "empty command line");
        pid_t pid = 0;
        const int error = SpawnDetached(words, nullptr, pid);
        if (error != 0)
            throw std::system_error(error, std::generic_category(), "cannot start " + words[0]);
        return pid;
    }
};

} // namespace

ProgramStarter& SystemProgramStarter() {
    static LinuxProgramStarter starter;
    return starter;
}

} // namespace tarnwick::platform

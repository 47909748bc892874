// Starting a program on Linux: split the command line and spawn it detached.
#include "platform/ProgramStarter.h"
#include "platform/linux/DetachedSpawn.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

namespace tarnwick::platform {
namespace {

// As Windows reads a command line without quotes: one that names a file as a whole, blanks
// included, is that program alone (a path read from the registry comes just so).
std::optional<std::string> WholeLineAsProgram(std::string line) {
    std::replace(line.begin(), line.end(), '\\', '/');
    struct stat info {};
    if (line.find('"') != std::string::npos || stat(line.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        return std::nullopt;
    return line;
}

class LinuxProgramStarter final : public ProgramStarter {
public:
    // The window style has no meaning for X11 or Wayland clients started from here.
    std::int64_t StartProgram(const std::string& commandLine, int) override {
        if (commandLine.find('\0') != std::string::npos)
            throw std::system_error(EINVAL, std::generic_category(), "command line holds a NUL");
        const std::optional<std::string> program = WholeLineAsProgram(commandLine);
        const std::vector<std::string> words =
            program ? std::vector{*program} : SplitCommandLine(commandLine);
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

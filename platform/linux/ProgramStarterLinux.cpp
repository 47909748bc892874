// Starting a program on Linux: split the command line and spawn it detached.
#include "platform/ProgramStarter.h"
#include "platform/linux/DetachedSpawn.h"

#include <cerrno>
#include <system_error>

namespace tarnwick::platform {
namespace {

class LinuxProgramStarter final : public ProgramStarter {
public:
    // The window style has no meaning for X11 or Wayland clients started from here.
    std::int64_t StartProgram(const std::string& commandLine, int) override {
        if (commandLine.find('\0') != std::string::npos)
            throw std::system_error(EINVAL, std::generic_category(), "command line holds a NUL");
        const std::vector<std::string> words = SplitCommandLine(commandLine);
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

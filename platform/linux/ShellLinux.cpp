// The shell's "open" on Linux: the desktop's default handler through xdg-open.
#include "platform/Shell.h"
#include "platform/linux/DetachedSpawn.h"

#include <cerrno>
#include <strings.h>

namespace tarnwick::platform {
namespace {

class LinuxShell final : public Shell {
public:
    std::intptr_t ShellExecuteA(WindowHandle, const char* operation, const std::string& file,
                                const char*, const char* directory, int) override {
        // Only "open" (also the default verb) has a handler here.
        if (operation != nullptr && *operation != '\0' && strcasecmp(operation, "open") != 0)
            return kShellNoAssociation;
        // xdg-open would read a leading dash as an option and a NUL would cut the address.
        if (file.empty() || file.front() == '-' || file.find('\0') != std::string::npos)
            return kShellFileNotFound;
        pid_t pid = 0;
        const int error = SpawnDetached({"xdg-open", file}, directory, pid);
        if (error == 0)
            return kShellStarted;
        return error == ENOENT ? kShellFileNotFound : kShellNoAssociation;
    }
};

} // namespace

Shell& SystemShell() {
    static LinuxShell shell;
    return shell;
}

} // namespace tarnwick::platform

// This process's capabilities. Before the first window the process has one thread, so the sets
// cleared here are the whole process's and every later thread's.
#include "platform/Capabilities.h"

#include "capabilities/ClearCapabilities.h"

#include <unistd.h>

namespace tarnwick::platform {
namespace {

class LinuxCapabilities final : public Capabilities {
public:
    bool RealUserIsRoot() const override { return getuid() == 0; }

    bool RunsSetId() const override { return geteuid() != getuid() || getegid() != getgid(); }

    bool DropAll() override {
        // The programs it starts for the user (the browser, the system information) keep
        // whatever their own grants or set-user-ID bits give them.
        return capabilities::ClearCapabilities(capabilities::BoundingSet::Kept);
    }
};

} // namespace

Capabilities& SystemCapabilities() {
    static LinuxCapabilities capabilities;
    return capabilities;
}

} // namespace tarnwick::platform

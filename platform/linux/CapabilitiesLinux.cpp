// Capabilities through libcap, as iputils' ping handles them. Before the first window the
// process has one thread, so the sets cleared here are the whole process's and every later
// thread's.
#include "platform/Capabilities.h"

#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <memory>

namespace tarnwick::platform {
namespace {

struct CapFree {
    void operator()(_cap_struct* state) const { cap_free(state); }
};
using CapState = std::unique_ptr<_cap_struct, CapFree>;

class LinuxCapabilities final : public Capabilities {
public:
    bool RealUserIsRoot() const override { return getuid() == 0; }

    bool RunsSetId() const override { return geteuid() != getuid() || getegid() != getgid(); }

    bool DropAll() override {
        const CapState none(cap_init()); // every set cleared
        if (none)
            (void)cap_set_proc(none.get());
        // The kernel empties the ambient set with the permitted one; cleared by name all the same,
        // with the one call that cap_reset_ambient makes after probing each capability in turn.
        (void)prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
        const CapState now(cap_get_proc());
        return none && now && cap_compare(now.get(), none.get()) == 0;
    }
};

} // namespace

Capabilities& SystemCapabilities() {
    static LinuxCapabilities capabilities;
    return capabilities;
}

} // namespace tarnwick::platform

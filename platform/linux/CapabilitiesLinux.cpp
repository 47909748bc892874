// Capabilities through libcap, as iputils' ping handles them. Before the first window the
// process has one thread, so the sets set here are the whole process's and every later
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

bool Holds(cap_t state, cap_flag_t set) {
    cap_flag_value_t value = CAP_CLEAR;
    return cap_get_flag(state, CAP_NET_RAW, set, &value) == 0 && value == CAP_SET;
}

bool SetNetRawEffective(cap_flag_value_t value) {
    const CapState state(cap_get_proc());
    const cap_value_t netRaw[] = {CAP_NET_RAW};
    return state && cap_set_flag(state.get(), CAP_EFFECTIVE, 1, netRaw, value) == 0 &&
           cap_set_proc(state.get()) == 0;
}

class LinuxCapabilities final : public Capabilities {
public:
    bool RealUserIsRoot() const override { return getuid() == 0; }

    bool RaiseNetRaw() override {
        raised_ = false;
        const CapState state(cap_get_proc());
        if (!state || !Holds(state.get(), CAP_PERMITTED))
            return false;
        // A "+ep" grant (or root) made it effective from the start.
        if (Holds(state.get(), CAP_EFFECTIVE))
            return true;
        raised_ = SetNetRawEffective(CAP_SET);
        return raised_;
    }

    void LowerNetRaw() override {
        if (raised_)
            (void)SetNetRawEffective(CAP_CLEAR);
        raised_ = false;
    }

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

private:
    bool raised_ = false;
};

} // namespace

Capabilities& SystemCapabilities() {
    static LinuxCapabilities capabilities;
    return capabilities;
}

} // namespace tarnwick::platform

// Capabilities through libcap, as iputils' ping handles them.
#include "capabilities/ClearCapabilities.h"

#include <sys/capability.h>
#include <sys/prctl.h>

#include <memory>

namespace tarnwick::capabilities {
namespace {

struct CapFree {
    void operator()(_cap_struct* state) const { cap_free(state); }
};
using CapState = std::unique_ptr<_cap_struct, CapFree>;

// Asked one capability at a time, up to the last one the running kernel knows (which may be
// newer than these headers).
bool AmbientSetEmpty() {
    for (cap_value_t cap = 0; cap < cap_max_bits(); ++cap) {
        if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0) > 0)
            return false;
    }
    return true;
}

} // namespace

bool ClearCapabilities(BoundingSet bounding) {
    // The bounding set first, while CAP_SETPCAP may still allow it; without it the set stays.
    if (bounding == BoundingSet::Cleared) {
        for (cap_value_t cap = 0; cap < cap_max_bits(); ++cap)
            (void)prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    }
    // The kernel empties the ambient set with the permitted one; cleared by name all the same,
    // with the one call that cap_reset_ambient makes after probing each capability in turn.
    (void)prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    const CapState none(cap_init()); // every set cleared
    if (none)
        (void)cap_set_proc(none.get());
    const CapState now(cap_get_proc());
    return none && now && cap_compare(now.get(), none.get()) == 0 && AmbientSetEmpty();
}

} // namespace tarnwick::capabilities

// Giving up every capability, for the window and the echo program alike.
#pragma once

namespace tarnwick::capabilities {

enum class BoundingSet {
    Kept,    // what programs this process starts may gain from their own grants stays theirs
    Cleared, // where this process may (CAP_SETPCAP): nothing it starts gains a capability
};

// Clears the ambient, inheritable, permitted and effective sets (and the bounding set when
// asked). True only when each of those four reads back empty, the ambient set too.
bool ClearCapabilities(BoundingSet bounding);

} // namespace tarnwick::capabilities

// The process's capabilities, and the one moment of a run that uses them: opening the socket
// that pings, before any code that a user can steer (plugins, themes, fonts) is loaded.
#pragma once

#include "platform/Icmp.h"

namespace tarnwick::platform {

class Capabilities {
public:
    virtual ~Capabilities() = default;

    virtual bool RealUserIsRoot() const = 0;
    // Makes CAP_NET_RAW effective when it is permitted; false when it is not permitted.
    virtual bool RaiseNetRaw() = 0;
    // Takes back what the last RaiseNetRaw added, and only that.
    virtual void LowerNetRaw() = 0;
    // Clears the permitted, effective, inheritable and ambient sets; whether none is held now.
    virtual bool DropAll() = 0;
};

// This process's capabilities.
Capabilities& SystemCapabilities();

// Settles how this run pings: ping sockets where the user's group may open them, otherwise the
// one raw socket that serves every echo of the run, opened with CAP_NET_RAW raised for that
// moment. Then gives up every capability whatever the program's file grant was, unless the real
// user is root: root gains nothing from the grant, and keeps its own so that "sudo -E" can still
// read the user's display credentials. False when capabilities that had to go are still held:
// the run must not go on.
bool StartEchoWithLeastPrivilege(IcmpService& icmp, Capabilities& capabilities);

} // namespace tarnwick::platform

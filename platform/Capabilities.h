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

// How the run pings, decided at its start.
enum class EchoMeans {
    PingSockets,   // the user's group may open ping sockets: no privilege needed
    KeptRawSocket, // one raw socket, opened with CAP_NET_RAW, serves every echo of the run
    NoSocket,      // neither: every echo fails, and the user is told what would allow it
};

struct EchoStartup {
    EchoMeans means = EchoMeans::NoSocket;
    // False when capabilities that had to go are still held: the run must not go on.
    bool privilegeGivenUp = true;
};

// Decides how this run pings: ping sockets where the user's group may open them, otherwise the
// one raw socket, opened with CAP_NET_RAW raised for that moment. Then gives up every
// capability whatever the program's file grant was, unless the real user is root: root gains
// nothing from the grant, and keeps its own so that "sudo -E" can still read the user's
// display credentials.
EchoStartup StartEchoWithLeastPrivilege(IcmpService& icmp, Capabilities& capabilities);

} // namespace tarnwick::platform

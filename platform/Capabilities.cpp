// The start of a run's echo service, holding a capability only while its socket opens.
#include "platform/Capabilities.h"

namespace tarnwick::platform {

bool StartEchoWithLeastPrivilege(IcmpService& icmp, Capabilities& capabilities) {
    // Without ping sockets and without the grant, every echo fails and the user is told why.
    if (!icmp.PingSocketsAllowed() && capabilities.RaiseNetRaw()) {
        icmp.KeepRawSocket();
        capabilities.LowerNetRaw();
    }
    return capabilities.RealUserIsRoot() || capabilities.DropAll();
}

} // namespace tarnwick::platform

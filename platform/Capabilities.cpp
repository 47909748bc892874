// The start of a run's echo service, holding a capability only while its socket opens.
#include "platform/Capabilities.h"

namespace tarnwick::platform {

EchoStartup StartEchoWithLeastPrivilege(IcmpService& icmp, Capabilities& capabilities) {
    EchoStartup startup;
    if (icmp.PingSocketsAllowed()) {
        startup.means = EchoMeans::PingSockets;
    } else if (capabilities.RaiseNetRaw()) {
        if (icmp.KeepRawSocket())
            startup.means = EchoMeans::KeptRawSocket;
        capabilities.LowerNetRaw();
    }
    if (!capabilities.RealUserIsRoot())
        startup.privilegeGivenUp = capabilities.DropAll();
    return startup;
}

} // namespace tarnwick::platform

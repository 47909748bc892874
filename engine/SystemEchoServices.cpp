// The echo services of the running system.
#include "engine/EchoProbe.h"

namespace tarnwick {

EchoServices SystemEchoServices(platform::MessageDialog& messages) {
    return {platform::SystemSocketLibrary(), platform::SystemIcmpService(), messages};
}

} // namespace tarnwick

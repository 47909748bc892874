// The window's privileges at its start.
#include "platform/Capabilities.h"

namespace tarnwick::platform {

StartPrivilege GiveUpPrivileges(Capabilities& capabilities) {
    // Anything a user's environment names (plugins, themes, fonts) would run with another
    // user's rights; mtr refuses such a start the same way.
    if (capabilities.RunsSetId())
        return StartPrivilege::SetId;
    if (capabilities.RealUserIsRoot())
        return StartPrivilege::Root;
    return capabilities.DropAll() ? StartPrivilege::None : StartPrivilege::CapabilitiesKept;
}

const char* StartPrivilegeNote(StartPrivilege privilege) {
    switch (privilege) {
    case StartPrivilege::None:
        return nullptr;
    case StartPrivilege::Root:
        return "tarnwick: runs as root, which it does not need; start it as your own user";
    case StartPrivilege::SetId:
        return "tarnwick: will not run set-user-ID or set-group-ID; remove that bit (pinging "
               "needs no privilege of the window); not started";
    case StartPrivilege::CapabilitiesKept:
        return "tarnwick: cannot give up its capabilities; not started";
    }
    return nullptr;
}

} // namespace tarnwick::platform

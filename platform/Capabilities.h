// The process's privileges at its start: the window needs none, so it keeps none.
#pragma once

namespace tarnwick::platform {

class Capabilities {
public:
    virtual ~Capabilities() = default;

    virtual bool RealUserIsRoot() const = 0;
    // Whether the effective user or group differs from the real one (a set-user-ID or
    // set-group-ID install).
    virtual bool RunsSetId() const = 0;
    // Clears the permitted, effective, inheritable and ambient sets; whether none is held now.
    virtual bool DropAll() = 0;
};

Capabilities& SystemCapabilities();

enum class StartPrivilege {
    None,             // every capability is gone: go on
    Root,             // started by root, which keeps its own to reach the display under sudo -E
    SetId,            // a set-user-ID or set-group-ID install: must not go on
    CapabilitiesKept, // capabilities that had to go are still held: must not go on
};

// Gives up every capability whatever grant the program file carries (pings go through the
// echo program, which alone holds the privilege), unless the real user is root.
StartPrivilege GiveUpPrivileges(Capabilities& capabilities);

// What the run says on standard error about its privileges, or null for nothing.
const char* StartPrivilegeNote(StartPrivilege privilege);

} // namespace tarnwick::platform

// Capabilities through libcap, the system-call filter through libseccomp.
#include "echo/Confinement.h"

#include "capabilities/ClearCapabilities.h"

#include <linux/capability.h>
#include <seccomp.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <iterator>

namespace tarnwick::echo {
namespace {

// Sets CAP_NET_RAW's effective flag where it is permitted; true when that changed it.
bool SetNetRawEffective(cap_flag_value_t value) {
    cap_t caps = cap_get_proc();
    if (caps == nullptr)
        return false;
    const cap_value_t netRaw[] = {CAP_NET_RAW};
    cap_flag_value_t permitted = CAP_CLEAR, effective = CAP_CLEAR;
    const bool changed = cap_get_flag(caps, CAP_NET_RAW, CAP_PERMITTED, &permitted) == 0 &&
                         cap_get_flag(caps, CAP_NET_RAW, CAP_EFFECTIVE, &effective) == 0 &&
                         permitted == CAP_SET && effective != value &&
                         cap_set_flag(caps, CAP_EFFECTIVE, 1, netRaw, value) == 0 &&
                         cap_set_proc(caps) == 0;
    cap_free(caps);
    return changed;
}

} // namespace

bool RaiseNetRaw() {
    return SetNetRawEffective(CAP_SET);
}

void LowerNetRaw() {
    (void)SetNetRawEffective(CAP_CLEAR);
}

bool DropEverything() {
    // A granted user lacks CAP_SETPCAP and keeps the bounding set, which matters only to
    // programs it could start, and it can start none.
    const bool none = capabilities::ClearCapabilities(capabilities::BoundingSet::Cleared);
    const bool noNewPrivileges = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    const bool undumpable = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    return none && noNewPrivileges && undumpable;
}

bool CloseOtherDescriptors(int keep) {
    const auto closeRange = [](unsigned first, unsigned last) {
        return first > last || syscall(SYS_close_range, first, last, 0) == 0;
    };
    if (keep < 3)
        return closeRange(3, UINT_MAX);
    const auto kept = static_cast<unsigned>(keep);
    return closeRange(3, kept - 1) && closeRange(kept + 1, UINT_MAX);
}

bool Confine(int socket, const std::uint8_t* sendBuffer) {
    if (socket >= 0 && sendBuffer == nullptr)
        return false;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr)
        return false;
    const auto allow = [filter](int call, unsigned count = 0, scmp_arg_cmp first = {},
                                scmp_arg_cmp second = {}, scmp_arg_cmp third = {}) {
        return seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, count, first, second, third) == 0;
    };
    const auto on = [](unsigned argument, long value) {
        return scmp_arg_cmp{argument, SCMP_CMP_EQ, static_cast<scmp_datum_t>(value), 0};
    };
    bool ok = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0 &&
              allow(SCMP_SYS(read), 1, on(0, 0)) && allow(SCMP_SYS(write), 1, on(0, 1)) &&
              allow(SCMP_SYS(write), 1, on(0, 2)) && allow(SCMP_SYS(poll)) &&
              allow(SCMP_SYS(ppoll)) && allow(SCMP_SYS(clock_gettime)) &&
              // A stopped and continued process resumes its wait through this call.
              allow(SCMP_SYS(restart_syscall)) && allow(SCMP_SYS(exit)) &&
              allow(SCMP_SYS(exit_group));
#ifdef TARNWICK_SANITIZED
    // The sanitizers' runtime asks for the signal stack on its way out.
    ok = ok && allow(SCMP_SYS(sigaltstack), 1, on(0, 0));
#endif
    if (socket >= 0) {
        // The buffer's first two bytes, an echo request's type and code, lie on a read-only
        // page: whatever runs here sends echo requests or nothing. No setsockopt: the socket
        // is settled before the filter.
        const scmp_arg_cmp fromOurBuffer[] = {
            on(0, socket),
            {1, SCMP_CMP_EQ, reinterpret_cast<scmp_datum_t>(sendBuffer), 0},
            {2, SCMP_CMP_GE, 8, 0},
            on(3, 0)};
        ok = ok &&
             seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, SCMP_SYS(sendto),
                                    std::size(fromOurBuffer), fromOurBuffer) == 0 &&
             allow(SCMP_SYS(recvmsg), 1, on(0, socket));
    }
    ok = ok && seccomp_load(filter) == 0;
    // Not released once loaded: freeing could hand memory back to the system, a call the
    // filter forbids. Its few bytes live as long as the process.
    if (!ok)
        seccomp_release(filter);
    return ok;
}

} // namespace tarnwick::echo

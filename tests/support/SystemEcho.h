// For tests that ping through the system: whether this process may, and a ping that tells a
// late answer from a wrong one.
#pragma once

#include "engine/EchoProbe.h"
#include "platform/Capabilities.h"
#include "platform/Icmp.h"

#include <gtest/gtest.h>

namespace tarnwick::testing {

inline bool MachineCanEcho() {
    platform::IcmpService& icmp = platform::SystemIcmpService();
    const platform::IcmpHandle handle = icmp.IcmpCreateFile();
    return handle != platform::kInvalidIcmpHandle && icmp.IcmpCloseHandle(handle);
}

// The program's start-up, ending as a user's run does: with no capability (root keeps its own).
inline void StartAsUser() {
    platform::StartEchoWithLeastPrivilege(platform::SystemIcmpService(),
                                          platform::SystemCapabilities());
    platform::SystemCapabilities().DropAll();
}

// Pings, and again while the ping times out (at most 10 times): on a busy machine an answer
// can come late, never wrong, so any other result is the test's to judge. Counts the pings.
inline std::int32_t PingUnlessLate(const std::string& address, EchoReply& reply,
                                   const EchoServices& services, int* sent = nullptr) {
    std::int32_t result = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        reply = {};
        result = PingAddress(address, reply, services);
        if (sent)
            ++*sent;
        if (reply.Status != platform::ip_status::kRequestTimedOut)
            break;
    }
    return result;
}

} // namespace tarnwick::testing

#define TARNWICK_SKIP_WITHOUT_ICMP()                                                               \
    if (!::tarnwick::testing::MachineCanEcho())                                                    \
    GTEST_SKIP() << "no ICMP socket: needs CAP_NET_RAW (root) or a group inside "                  \
                    "net.ipv4.ping_group_range"

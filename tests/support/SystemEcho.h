// Whether this process may open an ICMP socket, for tests that ping through the system.
#pragma once

#include "platform/Icmp.h"

#include <gtest/gtest.h>

namespace tarnwick::testing {

inline bool MachineCanEcho() {
    platform::IcmpService& icmp = platform::SystemIcmpService();
    const platform::IcmpHandle handle = icmp.IcmpCreateFile();
    return handle != platform::kInvalidIcmpHandle && icmp.IcmpCloseHandle(handle);
}

} // namespace tarnwick::testing

#define TARNWICK_SKIP_WITHOUT_ICMP()                                                               \
    if (!::tarnwick::testing::MachineCanEcho())                                                    \
    GTEST_SKIP() << "no ICMP socket: needs CAP_NET_RAW (root) or a group inside "                  \
                    "net.ipv4.ping_group_range"

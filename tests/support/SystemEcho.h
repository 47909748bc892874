// For tests that ping through the system: whether this process may, and a ping that tells a
// late answer from a wrong one.
#pragma once

#include "engine/EchoProbe.h"
#include "platform/Icmp.h"
#include "platform/linux/EchoProgramClient.h"

#include <gtest/gtest.h>

namespace tarnwick::testing {

// The echo program of this build, started by its path as the window starts the installed one.
inline platform::EchoProgramClient& BuiltEchoProgram() {
    static platform::EchoProgramClient client(TARNWICK_ECHO_PROGRAM_BUILT);
    return client;
}

// The system's echo services, through the echo program of this build.
inline EchoServices BuiltEchoServices(platform::MessageDialog& messages) {
    return {platform::SystemSocketLibrary(), BuiltEchoProgram(), messages};
}

// A program of its own, gone when this returns: tests that count echo programs count no other.
inline bool MachineCanEcho() {
    platform::EchoProgramClient icmp(TARNWICK_ECHO_PROGRAM_BUILT);
    const platform::IcmpHandle handle = icmp.IcmpCreateFile();
    return handle != platform::kInvalidIcmpHandle && icmp.IcmpCloseHandle(handle);
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
        if (reply.Status != contract::ip_status::kRequestTimedOut)
            break;
    }
    return result;
}

} // namespace tarnwick::testing

#define TARNWICK_SKIP_WITHOUT_ICMP()                                                               \
    if (!::tarnwick::testing::MachineCanEcho())                                                    \
    GTEST_SKIP() << "the echo program has no ICMP socket: needs CAP_NET_RAW (root) or a group "    \
                    "inside net.ipv4.ping_group_range"

// For tests that ping through the system: whether this process may, and a ping that tells a
// late answer from a wrong one.
#pragma once

#include "engine/EchoProbe.h"
#include "platform/Icmp.h"
#include "platform/linux/EchoProgramClient.h"
#include "tests/support/RetryWhileLate.h"
#include "tests/support/SkipReasons.h"

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

// Pings, and again while the ping times out; counts the pings.
inline std::int32_t PingUnlessLate(const std::string& address, EchoReply& reply,
                                   const EchoServices& services, int* sent = nullptr) {
    return RetryWhileLate(
        [&] {
            reply = {};
            return PingAddress(address, reply, services);
        },
        [&](std::int32_t) { return reply.Status == contract::ip_status::kRequestTimedOut; }, sent);
}

} // namespace tarnwick::testing

#define TARNWICK_SKIP_WITHOUT_ICMP()                                                               \
    if (!::tarnwick::testing::MachineCanEcho())                                                    \
    GTEST_SKIP() << ::tarnwick::testing::kNoIcmpSocket

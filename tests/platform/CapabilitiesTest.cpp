// The run's start-up: which socket it settles on, and that no capability outlives it.
#include "platform/Capabilities.h"

#include "support/Fakes.h"
#include "support/NamedRows.h"

#include <gtest/gtest.h>

namespace tarnwick::platform {
namespace {

using testing::PrintTo; // rows print by name

// Each row guards one way a run can start: the capability raised only around the raw socket's
// opening and only where ping sockets are closed, and every one given up unless root started it.
struct StartupRow {
    const char* name;
    bool root, pingSockets, permitted, rawSocketOpens;
    const char* calls;
    EchoMeans means;
};
constexpr StartupRow kStartupRows[] = {
    {"PingSocketsNeedNoPrivilege", false, true, true, true, "ping drop ", EchoMeans::PingSockets},
    {"GrantOpensTheRawSocket", false, false, true, true, "ping raise keep lower drop ",
     EchoMeans::KeptRawSocket},
    {"NoGrantNoSocket", false, false, false, true, "ping raise drop ", EchoMeans::NoSocket},
    {"RawSocketRefused", false, false, true, false, "ping raise keep lower drop ",
     EchoMeans::NoSocket},
    {"RootKeepsItsOwn", true, false, true, true, "ping raise keep lower ",
     EchoMeans::KeptRawSocket},
};

class Startup : public ::testing::TestWithParam<StartupRow> {};

TEST_P(Startup, OpensOneSocketAndGivesUpEveryCapability) {
    const StartupRow& row = GetParam();
    testing::FakeIcmpService icmp;
    icmp.pingSockets = row.pingSockets;
    icmp.rawSocket = row.rawSocketOpens;
    testing::FakeCapabilities capabilities(icmp.calls);
    capabilities.root = row.root;
    capabilities.permitted = row.permitted;
    EXPECT_EQ(StartEchoWithLeastPrivilege(icmp, capabilities).means, row.means);
    EXPECT_EQ(icmp.calls, row.calls);
}

INSTANTIATE_TEST_SUITE_P(Rows, Startup, ::testing::ValuesIn(kStartupRows), testing::kRowName);

} // namespace
} // namespace tarnwick::platform

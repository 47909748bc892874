// Soak: many echoes in one process, every result correct, no descriptor or memory left behind.
#include "engine/EchoProbe.h"

#include "support/Fakes.h"
#include "support/ProcessUse.h"
#include "support/SystemEcho.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tarnwick {
namespace {

// Guards a handle, socket or buffer leaked per ping, and replies mixed up over many pings.
TEST(Soak, TenThousandPingsLeaveDescriptorsAndMemoryAsTheyWere) {
    TARNWICK_SKIP_WITHOUT_ICMP();
    testing::RecordingMessageDialog messages;
    const EchoServices services = testing::BuiltEchoServices(messages);
    int wrong = 0;
    const auto ping = [&] {
        EchoReply reply{};
        const std::int32_t result = testing::PingUnlessLate("127.0.0.1", reply, services);
        wrong += reply.Status != 0 || result != reply.RoundTripTime || reply.Address != 16777343 ||
                 std::memcmp(reply.Data, "Echo This\0", 10) != 0;
    };
    // Warm-up: first-use allocations of the layer and libc, and the sanitizers' caches.
    for (int i = 0; i < 10000; ++i)
        ping();
    const auto before = testing::DescriptorsAndResidentBytes();
    for (int i = 0; i < 10000; ++i)
        ping();
    const auto after = testing::DescriptorsAndResidentBytes();
    EXPECT_EQ(wrong, 0) << "of 20000 pings";
    EXPECT_EQ(after.first, before.first);
    // A leak of even a few bytes per ping passes this over 10,000 pings.
    EXPECT_LE(after.second - before.second, 512 * 1024);
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick

// The echo probe over this machine's real services, to the loopback address only.
#include "engine/EchoProbe.h"

#include "support/RecordingMessageDialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tarnwick {
namespace {

using testing::RecordingMessageDialog;

bool MachineCanEcho() {
    platform::IcmpService& icmp = platform::SystemIcmpService();
    const platform::IcmpHandle handle = icmp.IcmpCreateFile();
    if (handle == platform::kInvalidIcmpHandle)
        return false;
    icmp.IcmpCloseHandle(handle);
    return true;
}

#define SKIP_WITHOUT_ICMP()                                                                        \
    if (!MachineCanEcho())                                                                         \
    GTEST_SKIP() << "no ICMP socket: needs CAP_NET_RAW (root) or a group inside "                  \
                    "net.ipv4.ping_group_range"

std::size_t OpenDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(SystemEchoProbe, LoopbackRepliesWithTheEchoedTextAndItsRoundTrip) {
    SKIP_WITHOUT_ICMP();
    RecordingMessageDialog messages;
    EchoReply reply{};
    const std::int32_t result = PingAddress("127.0.0.1", reply, SystemEchoServices(messages));
    EXPECT_EQ(reply.Status, 0);
    EXPECT_EQ(reply.Address, 16777343);
    EXPECT_EQ(reply.DataSize, 9);
    EXPECT_EQ(std::string(reply.Data, 10), std::string("Echo This\0", 10));
    EXPECT_EQ(result, reply.RoundTripTime);
    EXPECT_GE(reply.RoundTripTime, 0);
    EXPECT_LT(reply.RoundTripTime, 200);
    EXPECT_GT(reply.Ttl, 0);
    EXPECT_NE(reply.DataPointer, 0);
    EXPECT_EQ(reply.OptionsSize, 0);
    EXPECT_EQ(reply.OptionsData, 0);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(SystemEchoProbe, AnyLoopbackAddressAnswersFromItself) {
    SKIP_WITHOUT_ICMP();
    RecordingMessageDialog messages;
    EchoReply reply{};
    // 127.1.2.3 as an address value: 127 + 1 * 256 + 2 * 65536 + 3 * 16777216.
    const std::int32_t result = PingAddress("127.1.2.3", reply, SystemEchoServices(messages));
    EXPECT_EQ(reply.Status, 0);
    EXPECT_EQ(reply.Address, 50463103);
    EXPECT_EQ(result, reply.RoundTripTime);
}

TEST(SystemEchoProbe, AddressWithFewerThanFourPartsIsABadDestinationNotASuccess) {
    SKIP_WITHOUT_ICMP();
    RecordingMessageDialog messages;
    EchoReply reply{};
    const std::int32_t result = PingAddress("127.0.1", reply, SystemEchoServices(messages));
    EXPECT_EQ(reply.Status, 11018);
    EXPECT_EQ(result, -11018);
    EXPECT_EQ(reply.DataSize, 0);
    EXPECT_EQ(reply.Data[0], '\0');
}

TEST(SystemEchoProbe, ThousandPingsLeaveNoDescriptorOpen) {
    SKIP_WITHOUT_ICMP();
    RecordingMessageDialog messages;
    const EchoServices services = SystemEchoServices(messages);
    const std::size_t before = OpenDescriptorCount();
    int replies = 0;
    for (int i = 0; i < 1000; ++i) {
        EchoReply reply{};
        PingAddress("127.0.0.1", reply, services);
        replies += reply.Status == 0 ? 1 : 0;
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_EQ(replies, 1000);
    EXPECT_TRUE(messages.shown.empty());
}

} // namespace
} // namespace tarnwick

// The Linux echo service on this machine's loopback: handles, reply buffers, refused requests.
#include "platform/Icmp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tarnwick::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoopback = 16777343; // 127.0.0.1
constexpr std::uint8_t kGuard = 0xCC;
constexpr char kEchoThis[] = "Echo This";

std::int32_t StatusOf(const Bytes& buffer) {
    std::int32_t status;
    std::memcpy(&status, buffer.data() + reply_layout::kStatus, 4);
    return status;
}

std::string DataOf(const Bytes& buffer) {
    std::int16_t size;
    std::memcpy(&size, buffer.data() + reply_layout::kDataSize, 2);
    return std::string(buffer.begin() + 28, buffer.begin() + 28 + size);
}

class IcmpServiceLinux : public ::testing::Test {
protected:
    void SetUp() override {
        handle = icmp.IcmpCreateFile();
        if (handle == kInvalidIcmpHandle)
            GTEST_SKIP() << "no ICMP socket: needs CAP_NET_RAW (root) or a group inside "
                            "net.ipv4.ping_group_range";
    }
    void TearDown() override {
        if (handle != kInvalidIcmpHandle) {
            EXPECT_TRUE(icmp.IcmpCloseHandle(handle));
        }
    }

    // Sends text to 127.0.0.1 with a reply buffer of replySize bytes followed by guard bytes.
    std::uint32_t Echo(Bytes& buffer, std::uint32_t replySize, const std::string& text,
                       IcmpHandle on = 0, std::uint32_t timeout = 1000) {
        buffer.assign(replySize + 16, kGuard);
        return icmp.IcmpSendEcho(on != 0 ? on : handle, kLoopback, text.data(),
                                 static_cast<std::uint16_t>(text.size()), nullptr, buffer.data(),
                                 replySize, timeout);
    }

    IcmpService& icmp = SystemIcmpService();
    IcmpHandle handle = kInvalidIcmpHandle;
};

TEST_F(IcmpServiceLinux, ReplyFillsExactlyTheHeaderAndTheEchoedBytes) {
    Bytes buffer;
    ASSERT_EQ(Echo(buffer, 37, kEchoThis), 1u);
    EXPECT_EQ(StatusOf(buffer), 0);
    EXPECT_EQ(DataOf(buffer), kEchoThis);
    std::uint32_t address;
    std::memcpy(&address, buffer.data(), 4);
    EXPECT_EQ(address, kLoopback);
    EXPECT_EQ(Bytes(buffer.begin() + 37, buffer.end()), Bytes(16, kGuard));
}

TEST_F(IcmpServiceLinux, LargeRequestsEchoBackWhole) {
    std::string text(1400, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(i * 7);
    Bytes buffer;
    ASSERT_EQ(Echo(buffer, 28 + 1400, text), 1u);
    EXPECT_EQ(DataOf(buffer), text);
}

TEST_F(IcmpServiceLinux, RequestThatCannotFitItsReplyIsRefusedBeforeSending) {
    Bytes buffer;
    const struct {
        std::uint32_t size;
        std::size_t written; // whole header fields that fit
    } rows[] = {{0, 0}, {4, 4}, {8, 8}, {27, 24}, {28, 28}, {36, 28}};
    for (const auto& row : rows) {
        EXPECT_EQ(Echo(buffer, row.size, kEchoThis), 0u) << "reply size " << row.size;
        if (row.size >= 8) {
            EXPECT_EQ(StatusOf(buffer), 11001) << "reply size " << row.size;
        }
        // Nothing past the given size, and no echoed byte in a buffer that cannot hold them.
        EXPECT_EQ(Bytes(buffer.begin() + row.written, buffer.end()),
                  Bytes(row.size + 16 - row.written, kGuard))
            << "reply size " << row.size;
    }
}

TEST_F(IcmpServiceLinux, RequestLargerThanAnIpDatagramIsPacketTooBig) {
    const std::string text(65535, 'x');
    Bytes buffer;
    EXPECT_EQ(Echo(buffer, 28 + 65535, text), 0u);
    EXPECT_EQ(StatusOf(buffer), 11009);
}

TEST_F(IcmpServiceLinux, RefusedRequestsNeverReportSuccess) {
    Bytes buffer(278, 0);
    // The address value 0 would be answered by this host.
    EXPECT_EQ(icmp.IcmpSendEcho(handle, 0, kEchoThis, 9, nullptr, buffer.data(), 278, 200), 0u);
    EXPECT_EQ(StatusOf(buffer), 11018);
    const std::uint8_t options[8] = {64};
    EXPECT_EQ(icmp.IcmpSendEcho(handle, kLoopback, kEchoThis, 9, options, buffer.data(), 278, 200),
              0u);
    EXPECT_EQ(StatusOf(buffer), 11007);
    EXPECT_EQ(icmp.IcmpSendEcho(handle, kLoopback, nullptr, 9, nullptr, buffer.data(), 278, 200),
              0u);
    EXPECT_EQ(StatusOf(buffer), 11011);
    EXPECT_EQ(icmp.IcmpSendEcho(handle, kLoopback, kEchoThis, 9, nullptr, nullptr, 278, 200), 0u);
}

TEST_F(IcmpServiceLinux, EmptyRequestEchoesNoData) {
    Bytes buffer;
    ASSERT_EQ(Echo(buffer, 28, ""), 1u);
    EXPECT_EQ(DataOf(buffer), "");
    EXPECT_EQ(buffer[28], kGuard);
}

TEST_F(IcmpServiceLinux, EachHandleTakesOnlyItsOwnReply) {
    // A raw socket sees the other handle's traffic; a late reply stays queued on its own
    // handle. Neither may be taken for the reply to the current request.
    const IcmpHandle other = icmp.IcmpCreateFile();
    ASSERT_NE(other, kInvalidIcmpHandle);
    Bytes buffer;
    for (int round = 0; round < 20; ++round) {
        const std::string first = "first " + std::to_string(round);
        const std::string second = "second " + std::to_string(round);
        // With no time to wait, this reply may come after the call has given up.
        const std::uint32_t quick = Echo(buffer, 278, first, handle, 0);
        if (quick == 1)
            EXPECT_EQ(DataOf(buffer), first);
        else
            EXPECT_EQ(StatusOf(buffer), 11010);
        ASSERT_EQ(Echo(buffer, 278, second, other), 1u);
        EXPECT_EQ(DataOf(buffer), second);
        ASSERT_EQ(Echo(buffer, 278, first + "again"), 1u);
        EXPECT_EQ(DataOf(buffer), first + "again");
    }
    EXPECT_TRUE(icmp.IcmpCloseHandle(other));
}

TEST(IcmpServiceLinuxHandles, InvalidOrClosedHandlesFailWithGeneralFailure) {
    IcmpService& icmp = SystemIcmpService();
    EXPECT_FALSE(icmp.IcmpCloseHandle(kInvalidIcmpHandle));
    EXPECT_FALSE(icmp.IcmpCloseHandle(0)); // standard input is not a handle of ours

    Bytes buffer(278 + 4, kGuard);
    EXPECT_EQ(icmp.IcmpSendEcho(kInvalidIcmpHandle, kLoopback, kEchoThis, 9, nullptr, buffer.data(),
                                278, 200),
              0u);
    EXPECT_EQ(StatusOf(buffer), 11050);
    EXPECT_EQ(buffer[278], kGuard);

    const IcmpHandle handle = icmp.IcmpCreateFile();
    if (handle == kInvalidIcmpHandle)
        return;
    EXPECT_TRUE(icmp.IcmpCloseHandle(handle));
    EXPECT_FALSE(icmp.IcmpCloseHandle(handle));
    EXPECT_EQ(icmp.IcmpSendEcho(handle, kLoopback, kEchoThis, 9, nullptr, buffer.data(), 278, 200),
              0u);
    EXPECT_EQ(StatusOf(buffer), 11050);
}

} // namespace
} // namespace tarnwick::platform

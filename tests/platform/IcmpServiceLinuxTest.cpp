// The Linux echo service on this machine's loopback: reply buffers, refused requests, handles.
#include "platform/Icmp.h"

#include "support/SystemEcho.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tarnwick::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kLoopback = 16777343; // 127.0.0.1

// Sends text to 127.0.0.1 with a reply buffer of `size` bytes and guard bytes after it; gives
// the status and the echoed text, or "guard" when anything was written where it may not be:
// past the size, or past the header when the reply did not fit.
std::pair<std::int32_t, std::string> Echo(IcmpHandle handle, std::uint32_t size,
                                          const std::string& text,
                                          std::uint32_t destination = kLoopback,
                                          bool withoutData = false, const void* options = nullptr,
                                          std::uint32_t timeout = 1000) {
    Bytes buffer(size + 16, 0xCC);
    const std::uint32_t replies = SystemIcmpService().IcmpSendEcho(
        handle, destination, withoutData ? nullptr : text.data(),
        static_cast<std::uint16_t>(text.size()), options, buffer.data(), size, timeout);
    std::int32_t status = -1;
    std::int16_t length = 0;
    std::memcpy(&status, buffer.data() + 4, size >= 8 ? 4 : 0);
    std::memcpy(&length, buffer.data() + 12, replies ? 2 : 0);
    if (std::any_of(buffer.begin() + (replies ? size : std::min(size, 28u)), buffer.end(),
                    [](std::uint8_t byte) { return byte != 0xCC; }))
        return {status, "guard"};
    return {status, std::string(buffer.begin() + 28, buffer.begin() + 28 + length)};
}

// Guards the echoed bytes whole (large and empty ones too), nothing written past the record,
// the refusals that must never pass for a success, and each handle taking only its own reply
// (a raw socket sees the other handle's traffic; a late reply stays queued on its own).
TEST(IcmpServiceLinux, EchoesIntoExactlyTheBufferGivenAndRefusesWhatCannotGo) {
    TARNWICK_SKIP_WITHOUT_ICMP();
    IcmpService& icmp = SystemIcmpService();
    const IcmpHandle first = icmp.IcmpCreateFile(), second = icmp.IcmpCreateFile();
    std::string large(1400, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7);
    for (const std::string& text : {std::string("Echo This"), large, std::string()})
        EXPECT_EQ(Echo(first, static_cast<std::uint32_t>(28 + text.size()), text),
                  std::pair(0, text));
    const std::uint8_t options[8] = {64};
    EXPECT_EQ(Echo(first, 278, "Echo This", 0).first, 11018); // this host would answer address 0
    EXPECT_EQ(Echo(first, 278, "Echo This", kLoopback, false, options).first, 11007);
    EXPECT_EQ(Echo(first, 278, "Echo This", kLoopback, true).first, 11011);
    for (const std::uint32_t size : {0u, 8u, 27u, 36u})
        EXPECT_EQ(Echo(first, size, "Echo This").second, "") << size; // refused before sending
    EXPECT_EQ(Echo(first, 36, "Echo This").first, 11001);
    EXPECT_EQ(Echo(first, 28 + 65535, std::string(65535, 'x')).first, 11009);
    for (int round = 0; round < 20; ++round) {
        const std::string text = "first " + std::to_string(round);
        // With no time to wait, this reply may come after the call has given up.
        const auto quick = Echo(first, 278, text, kLoopback, false, nullptr, 0);
        EXPECT_TRUE(quick == std::pair(0, text) || quick.first == 11010);
        EXPECT_EQ(Echo(second, 278, "second"), std::pair(0, std::string("second")));
        EXPECT_EQ(Echo(first, 278, text + " again"), std::pair(0, text + " again"));
    }
    EXPECT_TRUE(icmp.IcmpCloseHandle(second));
    EXPECT_TRUE(icmp.IcmpCloseHandle(first));
    // A closed handle is no handle: a general failure, and it cannot be closed twice.
    EXPECT_FALSE(icmp.IcmpCloseHandle(first));
    EXPECT_EQ(Echo(first, 278, "x").first, 11050);
}

} // namespace
} // namespace tarnwick::platform

// Which local address the main window shows: the choice over interface lists, and the system's.
#include "platform/LocalAddress.h"

#include <gtest/gtest.h>

#include <regex>

namespace tarnwick::platform {
namespace {

InterfaceAddress Ipv4(bool up, bool loopback, std::array<std::uint8_t, 4> bytes) {
    return {"eth", up, loopback, bytes};
}

// Guards skipping loopback, down interfaces and other families, taking the first usable
// address, the dotted form, and the loopback fallback.
TEST(ChooseLocalAddress, PicksTheFirstIpv4AddressOfAnUpNonLoopbackInterface) {
    const InterfaceAddress otherFamily{"eth0", true, false, std::nullopt};
    EXPECT_EQ(ChooseLocalAddress({}), "127.0.0.1");
    EXPECT_EQ(ChooseLocalAddress({Ipv4(true, true, {127, 0, 0, 1}),
                                  Ipv4(false, false, {10, 1, 2, 3}), otherFamily}),
              "127.0.0.1");
    EXPECT_EQ(ChooseLocalAddress(
                  {Ipv4(true, true, {127, 0, 0, 1}), Ipv4(false, false, {10, 1, 2, 3}), otherFamily,
                   Ipv4(true, false, {0, 255, 7, 100}), Ipv4(true, false, {10, 0, 0, 1})}),
              "0.255.7.100");
}

TEST(SystemLocalAddress, GivesOneDottedIpv4Address) {
    const std::string address = SystemLocalAddress().LocalIP();
    EXPECT_TRUE(std::regex_match(address, std::regex(R"((\d{1,3}\.){3}\d{1,3})"))) << address;
}

} // namespace
} // namespace tarnwick::platform

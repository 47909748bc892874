// Which local address the main window shows: the choice over interface lists, and the system's.
#include "platform/LocalAddress.h"

#include <gtest/gtest.h>

#include <regex>

namespace tarnwick::platform {
namespace {

InterfaceAddress Ipv4(std::string name, bool up, bool loopback, std::array<std::uint8_t, 4> bytes) {
    return {std::move(name), up, loopback, bytes};
}
InterfaceAddress OtherFamily(std::string name, bool up) {
    return {std::move(name), up, false, std::nullopt};
}

struct ChoiceCase {
    const char* name;
    std::vector<InterfaceAddress> addresses;
    std::string expected;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) {
    *out << row.name;
}

class LocalAddressChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(LocalAddressChoice, PicksTheFirstIpv4AddressOfAnUpNonLoopbackInterface) {
    EXPECT_EQ(ChooseLocalAddress(GetParam().addresses), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    InterfaceLists, LocalAddressChoice,
    ::testing::Values(
        ChoiceCase{"NoInterfacesGiveLoopback", {}, "127.0.0.1"},
        ChoiceCase{
            "OnlyLoopbackGivesLoopback", {Ipv4("lo", true, true, {127, 0, 0, 1})}, "127.0.0.1"},
        ChoiceCase{
            "LoopbackIsSkippedForTheNextInterface",
            {Ipv4("lo", true, true, {127, 0, 0, 1}), Ipv4("eth0", true, false, {10, 1, 2, 3})},
            "10.1.2.3"},
        ChoiceCase{"DownInterfaceIsSkipped",
                   {Ipv4("eth0", false, false, {10, 1, 2, 3}),
                    Ipv4("wlan0", true, false, {192, 168, 1, 200})},
                   "192.168.1.200"},
        ChoiceCase{"OnlyDownInterfacesGiveLoopback",
                   {Ipv4("eth0", false, false, {10, 1, 2, 3})},
                   "127.0.0.1"},
        ChoiceCase{"OtherFamiliesAreSkipped",
                   {OtherFamily("eth0", true), Ipv4("eth0", true, false, {172, 16, 0, 9})},
                   "172.16.0.9"},
        ChoiceCase{"OnlyOtherFamiliesGiveLoopback",
                   {OtherFamily("eth0", true), OtherFamily("eth1", true)},
                   "127.0.0.1"},
        ChoiceCase{
            "FirstOfSeveralUsableAddressesWins",
            {Ipv4("eth0", true, false, {10, 0, 0, 200}), Ipv4("eth1", true, false, {10, 0, 0, 1})},
            "10.0.0.200"},
        ChoiceCase{"BytesPrintAsPlainDecimalsWithoutPadding",
                   {Ipv4("eth0", true, false, {0, 255, 7, 100})},
                   "0.255.7.100"}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(SystemLocalAddress, GivesOneDottedIpv4Address) {
    const std::string address = SystemLocalAddress().LocalIP();
    EXPECT_TRUE(std::regex_match(address, std::regex(R"((\d{1,3}\.){3}\d{1,3})"))) << address;
}

} // namespace
} // namespace tarnwick::platform

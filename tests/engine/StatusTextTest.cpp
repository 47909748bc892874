// Status display lines: every table entry, the fallback and the line's shape.
#include "engine/StatusText.h"

#include <gtest/gtest.h>

#include <map>

namespace tarnwick {
namespace {

const std::map<std::int32_t, std::string> kExpected = {
    {0, "ip success"},
    {200, "ping timeout"},
    {11001, "ip buf too_small"},
    {11002, "ip dest net unreachable"},
    {11003, "ip dest host unreachable"},
    {11004, "ip dest prot unreachable"},
    {11005, "ip dest port unreachable"},
    {11006, "ip no resources"},
    {11007, "ip bad option"},
    {11008, "ip hw_error"},
    {11009, "ip packet too_big"},
    {11010, "ip req timed out"},
    {11011, "ip bad req"},
    {11012, "ip bad route"},
    {11013, "ip ttl expired transit"},
    {11014, "ip ttl expired reassem"},
    {11015, "ip param_problem"},
    {11016, "ip source quench"},
    {11017, "ip option too_big"},
    {11018, "ip bad destination"},
    {11019, "ip addr deleted"},
    {11020, "ip spec mtu change"},
    {11021, "ip mtu_change"},
    {11022, "ip unload"},
    {11023, "ip addr added"},
    {11050, "ip general failure"},
    {11255, "ip pending"},
};

TEST(GetStatusText, EveryCodeInTheTableGivesItsOwnText) {
    ASSERT_EQ(kExpected.size(), 27u);
    for (const auto& [code, text] : kExpected)
        EXPECT_EQ(GetStatusText(code), std::to_string(code) + "   [ " + text + " ]");
}

TEST(GetStatusText, WorkedExamples) {
    EXPECT_EQ(GetStatusText(0), "0   [ ip success ]");
    EXPECT_EQ(GetStatusText(11010), "11010   [ ip req timed out ]");
    EXPECT_EQ(GetStatusText(11024), "11024   [ unknown  msg returned ]");
}

TEST(GetStatusText, CodesBesideTheTableRunsGiveTheFallback) {
    for (std::int32_t code : {1, 199, 201, 11000, 11024, 11049, 11051, 11254, 11256, INT32_MAX})
        EXPECT_EQ(GetStatusText(code), std::to_string(code) + "   [ unknown  msg returned ]");
}

TEST(GetStatusText, EveryCodeOutsideTheTableInTheIpRangeFallsBack) {
    for (std::int32_t code = 10990; code <= 11300; ++code) {
        const bool listed = kExpected.count(code) != 0;
        EXPECT_EQ(GetStatusText(code).find("unknown  msg returned") != std::string::npos, !listed)
            << code;
    }
}

TEST(GetStatusText, NegativeCodesKeepTheirSignAndFallBack) {
    EXPECT_EQ(GetStatusText(-11010), "-11010   [ unknown  msg returned ]");
    EXPECT_EQ(GetStatusText(INT32_MIN), "-2147483648   [ unknown  msg returned ]");
}

TEST(GetStatusText, LeavesTheCodeUnchanged) {
    const std::int32_t code = 11003;
    GetStatusText(code);
    EXPECT_EQ(code, 11003);
}

} // namespace
} // namespace tarnwick

// The status line the window shows for an echo status code.
#include "engine/StatusText.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

namespace tarnwick {
namespace {

// Guards the "code   [ text ]" shape with the texts' own blanks and underscores, the fallback
// for negative codes, and texts of their own for exactly 0, 200, 11001 to 11023, 11050 and
// 11255, no two alike: every neighbour of those runs falls back.
TEST(GetStatusText, ShowsTheCodesTextOrTheFallback) {
    const std::tuple<const char*, std::int32_t, const char*> rows[] = {
        {"Success", 0, "0   [ ip success ]"},
        {"Underscore", 11001, "11001   [ ip buf too_small ]"},
        {"BlanksNotUnderscores", 11020, "11020   [ ip spec mtu change ]"},
        {"Negative", -11010, "-11010   [ unknown  msg returned ]"}};
    for (const auto& [name, code, line] : rows)
        EXPECT_EQ(GetStatusText(code), line) << name;
    std::set<std::string> texts;
    for (std::int32_t code = -1; code <= 11300; code = code == 300 ? 10990 : code + 1) {
        const bool known = code == 0 || code == 200 || (code >= 11001 && code <= 11023) ||
                           code == 11050 || code == 11255;
        const std::string line = GetStatusText(code);
        const auto text = line.substr(line.find("   [ "));
        EXPECT_EQ(text == "   [ unknown  msg returned ]", !known) << line;
        EXPECT_TRUE(!known || texts.insert(text).second) << line;
    }
}

} // namespace
} // namespace tarnwick

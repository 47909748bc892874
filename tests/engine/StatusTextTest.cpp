// Status display lines: the line's shape, the known codes and the fallback.
#include "engine/StatusText.h"

#include <gtest/gtest.h>

#include <set>

namespace tarnwick {
namespace {

// Guards the "code   [ text ]" shape, every known code's text of its own, and the fallback
// for codes outside the table.
TEST(GetStatusText, EveryKnownCodeHasATextOfItsOwnAndTheRestFallBack) {
    EXPECT_EQ(GetStatusText(0), "0   [ ip success ]");
    EXPECT_EQ(GetStatusText(11003), "11003   [ ip dest host unreachable ]");
    EXPECT_EQ(GetStatusText(11050), "11050   [ ip general failure ]");
    EXPECT_EQ(GetStatusText(11024), "11024   [ unknown  msg returned ]");
    EXPECT_EQ(GetStatusText(-11010), "-11010   [ unknown  msg returned ]");
    // A code dropped from the table, a lookup that misses its neighbours, two codes sharing
    // one text.
    const std::set<std::int32_t> known = {0,     200,   11001, 11002, 11003, 11004, 11005,
                                          11006, 11007, 11008, 11009, 11010, 11011, 11012,
                                          11013, 11014, 11015, 11016, 11017, 11018, 11019,
                                          11020, 11021, 11022, 11023, 11050, 11255};
    std::set<std::string> texts;
    for (std::int32_t code = -1; code <= 11300; code = code == 300 ? 10990 : code + 1) {
        const std::string line = GetStatusText(code);
        const std::string prefix = std::to_string(code) + "   [ ";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        const std::string text = line.substr(prefix.size());
        EXPECT_EQ(text == "unknown  msg returned ]", !known.contains(code)) << line;
        if (known.contains(code)) {
            EXPECT_TRUE(texts.insert(text).second) << line;
        }
    }
    EXPECT_EQ(texts.size(), known.size());
}

} // namespace
} // namespace tarnwick

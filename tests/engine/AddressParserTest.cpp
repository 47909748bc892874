// Text in and out of the engine: the dotted address parser (worked examples, the three error
// kinds, which part is read first) and the status display lines.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"
#include "engine/StatusText.h"

#include <gtest/gtest.h>

#include <set>

#include <optional>

namespace tarnwick {
namespace {

using enum EngineErrorKind;

// Guards the byte order (first part lowest), the low-8-bit rule, the number forms a part may
// take, and that the fourth part's error wins over the others.
TEST(ParseAddress, GivesTheValueOrTheErrorKind) {
    const struct {
        const char* name;
        std::string text;
        std::optional<std::int32_t> value; // set when parsing succeeds
        std::optional<EngineErrorKind> error;
    } rows[] = {
        {"Loopback", "127.0.0.1", 16777343, {}},
        {"PrivateAddress", "192.168.1.10", 167880896, {}},
        {"FourthPartAbove127IsNegative", "10.0.0.200", -939524086, {}},
        {"AllOnesIsMinusOne", "255.255.255.255", -1, {}},
        {"PartAbove255KeepsLow8Bits", "1.2.3.300", 738394625, {}},
        {"NegativePartKeepsLow8Bits", "1.2.3.-1", static_cast<std::int32_t>(0xFF030201), {}},
        {"SignsBlanksAndLeadingZeros", " +1 .\t2. 003 .4 ", 67305985, {}},
        {"SmallestPart", "1.2.3.-2147483648", 0x00030201, {}},
        {"EmptyTextIsZero", "", 0, {}},
        {"ThreePartsOfGarbageAreZero", "a.99999999999999.?", 0, {}},
        {"FiveParts", "1.2.3.4.5", {}, SubscriptOutOfRange},
        {"TrailingDotAfterFourParts", "1.2.3.4.", {}, SubscriptOutOfRange},
        {"FourLabelHostName", "mail.host.example.org", {}, TypeMismatch},
        {"EmptyPart", "1.2..4", {}, TypeMismatch},
        {"SignAlone", "1.2.3.-", {}, TypeMismatch},
        {"Hexadecimal", "1.2.3.0x10", {}, TypeMismatch},
        {"BlankInsideNumber", "1.2.3.4 4", {}, TypeMismatch},
        {"JustAbove32Bits", "1.2.3.2147483648", {}, Overflow},
        {"JustBelow32Bits", "1.2.3.-2147483649", {}, Overflow},
        {"FarAbove64Bits", "99999999999999999999999.2.3.4", {}, Overflow},
        {"MismatchInFourthBeatsOverflowInFirst", "9999999999.2.3.x", {}, TypeMismatch},
        {"OverflowInFourthBeatsMismatchInFirst", "x.2.3.9999999999", {}, Overflow},
        {"ThirdBeatsSecond", "1.x.9999999999.4", {}, Overflow}};
    for (const auto& row : rows) {
        try {
            EXPECT_EQ(std::optional(ParseAddress(row.text)), row.value) << row.name;
        } catch (const EngineError& error) {
            EXPECT_EQ(std::optional(error.kind()), row.error) << row.name << ": " << error.what();
        }
    }
}

// Guards the "code   [ text ]" shape, every known code's text of its own, and the fallback
// for codes outside the table (negative ones too).
TEST(GetStatusText, EveryKnownCodeHasATextOfItsOwnAndTheRestFallBack) {
    EXPECT_EQ(GetStatusText(0), "0   [ ip success ]");
    EXPECT_EQ(GetStatusText(11003), "11003   [ ip dest host unreachable ]");
    EXPECT_EQ(GetStatusText(11050), "11050   [ ip general failure ]");
    EXPECT_EQ(GetStatusText(11024), "11024   [ unknown  msg returned ]");
    // All codes at once: a code dropped from the table or a lookup that misses its neighbours
    // leaves fewer texts of their own; two codes may not share one.
    std::set<std::string> texts;
    for (std::int32_t code = -1; code <= 11300; code = code == 300 ? 10990 : code + 1) {
        const std::string line = GetStatusText(code);
        const std::string prefix = std::to_string(code) + "   [ ";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        const std::string text = line.substr(prefix.size());
        if (text != "unknown  msg returned ]") {
            EXPECT_TRUE(texts.insert(text).second) << line;
        }
    }
    EXPECT_EQ(texts.size(), 27u); // every code of the table, 0 to 11255
}

} // namespace
} // namespace tarnwick

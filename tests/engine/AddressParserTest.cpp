// Dotted address parser: worked examples, the three error kinds and which part is read first.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarnwick {
namespace {

struct ParseRow {
    const char* name;
    std::string text;
    std::optional<std::int32_t> value; // set when parsing succeeds
    std::optional<EngineErrorKind> error;
    friend void PrintTo(const ParseRow& row, std::ostream* out) { *out << row.name; }
};

class ParseAddressRows : public ::testing::TestWithParam<ParseRow> {};

// Guards the byte order (first part lowest), the low-8-bit rule, the number forms a part may
// take, and that the fourth part's error wins over the others.
TEST_P(ParseAddressRows, GivesTheValueOrTheErrorKind) {
    const ParseRow& row = GetParam();
    try {
        const std::int32_t value = ParseAddress(row.text);
        EXPECT_EQ(std::optional(value), row.value);
    } catch (const EngineError& error) {
        EXPECT_EQ(std::optional(error.kind()), row.error) << error.what();
    }
}

constexpr auto kOutOfRange = EngineErrorKind::SubscriptOutOfRange;
constexpr auto kMismatch = EngineErrorKind::TypeMismatch;
constexpr auto kOverflow = EngineErrorKind::Overflow;

INSTANTIATE_TEST_SUITE_P(
    Rows, ParseAddressRows,
    ::testing::Values(
        ParseRow{"Loopback", "127.0.0.1", 16777343, {}},
        ParseRow{"PrivateAddress", "192.168.1.10", 167880896, {}},
        ParseRow{"FourthPartAbove127IsNegative", "10.0.0.200", -939524086, {}},
        ParseRow{"AllOnesIsMinusOne", "255.255.255.255", -1, {}},
        ParseRow{"PartAbove255KeepsLow8Bits", "1.2.3.300", 738394625, {}},
        ParseRow{
            "NegativePartKeepsLow8Bits", "1.2.3.-1", static_cast<std::int32_t>(0xFF030201), {}},
        ParseRow{"SignsBlanksAndLeadingZeros", " +1 .\t2. 003 .4 ", 67305985, {}},
        ParseRow{"SmallestPart", "1.2.3.-2147483648", 0x00030201, {}},
        ParseRow{"EmptyTextIsZero", "", 0, {}},
        ParseRow{"ThreePartsOfGarbageAreZero", "a.99999999999999.?", 0, {}},
        ParseRow{"FiveParts", "1.2.3.4.5", {}, kOutOfRange},
        ParseRow{"TrailingDotAfterFourParts", "1.2.3.4.", {}, kOutOfRange},
        ParseRow{"FourLabelHostName", "mail.host.example.org", {}, kMismatch},
        ParseRow{"EmptyPart", "1.2..4", {}, kMismatch},
        ParseRow{"SignAlone", "1.2.3.-", {}, kMismatch},
        ParseRow{"Hexadecimal", "1.2.3.0x10", {}, kMismatch},
        ParseRow{"BlankInsideNumber", "1.2.3.4 4", {}, kMismatch},
        ParseRow{"JustAbove32Bits", "1.2.3.2147483648", {}, kOverflow},
        ParseRow{"JustBelow32Bits", "1.2.3.-2147483649", {}, kOverflow},
        ParseRow{"FarAbove64Bits", "99999999999999999999999.2.3.4", {}, kOverflow},
        ParseRow{"MismatchInFourthBeatsOverflowInFirst", "9999999999.2.3.x", {}, kMismatch},
        ParseRow{"OverflowInFourthBeatsMismatchInFirst", "x.2.3.9999999999", {}, kOverflow},
        ParseRow{"ThirdBeatsSecond", "1.x.9999999999.4", {}, kOverflow}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarnwick

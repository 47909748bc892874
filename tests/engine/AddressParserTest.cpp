// Dotted address parser: worked examples, the three error kinds and which part is read first.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarnwick {
namespace {

constexpr auto kOutOfRange = EngineErrorKind::SubscriptOutOfRange;
constexpr auto kMismatch = EngineErrorKind::TypeMismatch;
constexpr auto kOverflow = EngineErrorKind::Overflow;

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
        {"FiveParts", "1.2.3.4.5", {}, kOutOfRange},
        {"TrailingDotAfterFourParts", "1.2.3.4.", {}, kOutOfRange},
        {"FourLabelHostName", "mail.host.example.org", {}, kMismatch},
        {"EmptyPart", "1.2..4", {}, kMismatch},
        {"SignAlone", "1.2.3.-", {}, kMismatch},
        {"Hexadecimal", "1.2.3.0x10", {}, kMismatch},
        {"BlankInsideNumber", "1.2.3.4 4", {}, kMismatch},
        {"JustAbove32Bits", "1.2.3.2147483648", {}, kOverflow},
        {"JustBelow32Bits", "1.2.3.-2147483649", {}, kOverflow},
        {"FarAbove64Bits", "99999999999999999999999.2.3.4", {}, kOverflow},
        {"MismatchInFourthBeatsOverflowInFirst", "9999999999.2.3.x", {}, kMismatch},
        {"OverflowInFourthBeatsMismatchInFirst", "x.2.3.9999999999", {}, kOverflow},
        {"ThirdBeatsSecond", "1.x.9999999999.4", {}, kOverflow}};
    for (const auto& row : rows) {
        try {
            EXPECT_EQ(std::optional(ParseAddress(row.text)), row.value) << row.name;
        } catch (const EngineError& error) {
            EXPECT_EQ(std::optional(error.kind()), row.error) << row.name << ": " << error.what();
        }
    }
}

} // namespace
} // namespace tarnwick

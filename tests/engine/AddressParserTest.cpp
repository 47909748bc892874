// The dotted address parser: worked examples, the three error kinds, which part is read first.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tarnwick

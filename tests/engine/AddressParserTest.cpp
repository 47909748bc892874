// Dotted address parser: values, the three error kinds and which error wins.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarnwick {
namespace {

struct ParseCase {
    const char* name;
    std::string text;
    std::optional<std::int32_t> value;    // set when parsing succeeds
    std::optional<EngineErrorKind> error; // set when it fails
};

constexpr std::int32_t Signed(std::uint32_t bits) {
    return static_cast<std::int32_t>(bits);
}

void PrintTo(const ParseCase& row, std::ostream* out) {
    *out << row.name;
}

class ParseAddressRows : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseAddressRows, GivesTheValueOrTheErrorKind) {
    const ParseCase& row = GetParam();
    if (row.value) {
        EXPECT_EQ(ParseAddress(row.text), *row.value);
        return;
    }
    try {
        ParseAddress(row.text);
        FAIL() << "expected an error for \"" << row.text << "\"";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), *row.error) << error.what();
    }
}

constexpr auto kOutOfRange = EngineErrorKind::SubscriptOutOfRange;
constexpr auto kMismatch = EngineErrorKind::TypeMismatch;
constexpr auto kOverflow = EngineErrorKind::Overflow;

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ParseAddressRows,
    ::testing::Values(ParseCase{"Loopback", "127.0.0.1", 16777343, {}},
                      ParseCase{"PrivateAddress", "192.168.1.10", 167880896, {}},
                      ParseCase{"FourthPartAbove127IsNegative", "10.0.0.200", -939524086, {}},
                      ParseCase{"AllOnesIsMinusOne", "255.255.255.255", -1, {}},
                      ParseCase{"PartAbove255KeepsLow8Bits", "1.2.3.300", 738394625, {}},
                      ParseCase{"AllZero", "0.0.0.0", 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    FewerThanFourPartsGiveZero, ParseAddressRows,
    ::testing::Values(ParseCase{"EmptyText", "", 0, {}}, ParseCase{"NoDots", "localhost", 0, {}},
                      ParseCase{"ThreeLabelHostName", "www.example.org", 0, {}},
                      ParseCase{"ThreeNumbers", "10.0.0", 0, {}},
                      ParseCase{"TwoEmptyParts", ".", 0, {}},
                      ParseCase{"ThreePartsOfGarbage", "a.99999999999999.?", 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    NumberForms, ParseAddressRows,
    ::testing::Values(ParseCase{"Part256WrapsToZero", "1.2.3.256", 197121, {}},
                      ParseCase{"NegativePartKeepsLow8Bits", "1.2.3.-1", Signed(0xFF030201), {}},
                      ParseCase{"PlusSign", "+1.2.3.4", 67305985, {}},
                      ParseCase{"BlanksAroundParts", " 1 .\t2. 3 .4 ", 67305985, {}},
                      ParseCase{"LeadingZeros", "001.0002.00000000000000000003.4", 67305985, {}},
                      ParseCase{"LargestPart", "1.2.3.2147483647", Signed(0xFF030201), {}},
                      ParseCase{"SmallestPart", "1.2.3.-2147483648", 0x00030201, {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Errors, ParseAddressRows,
    ::testing::Values(ParseCase{"FiveParts", "1.2.3.4.5", {}, kOutOfRange},
                      ParseCase{"TrailingDotAfterFourParts", "1.2.3.4.", {}, kOutOfRange},
                      ParseCase{"FiveLabelHostName", "a.b.c.d.e", {}, kOutOfRange},
                      ParseCase{"ManyDots", "..........", {}, kOutOfRange},
                      ParseCase{"FourLabelHostName", "mail.host.example.org", {}, kMismatch},
                      ParseCase{"EmptyThirdPart", "1.2..4", {}, kMismatch},
                      ParseCase{"EmptyFourthPart", "1.2.3.", {}, kMismatch},
                      ParseCase{"BlankPart", "1.2. .4", {}, kMismatch},
                      ParseCase{"SignAlone", "1.2.3.-", {}, kMismatch},
                      ParseCase{"HexadecimalIsNotANumberHere", "1.2.3.0x10", {}, kMismatch},
                      ParseCase{"Fraction", "1.2.3,5.4", {}, kMismatch},
                      ParseCase{"DigitsThenLetters", "1.2.3.4a", {}, kMismatch},
                      ParseCase{"BlankInsideNumber", "1.2.3.4 4", {}, kMismatch},
                      ParseCase{"JustAbove32Bits", "1.2.3.2147483648", {}, kOverflow},
                      ParseCase{"JustBelow32Bits", "1.2.3.-2147483649", {}, kOverflow},
                      ParseCase{"FarAbove64Bits", "99999999999999999999999.2.3.4", {}, kOverflow}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    FourthPartIsConvertedFirst, ParseAddressRows,
    ::testing::Values(
        ParseCase{"MismatchInFourthBeatsOverflowInFirst", "9999999999.2.3.x", {}, kMismatch},
        ParseCase{"OverflowInFourthBeatsMismatchInFirst", "x.2.3.9999999999", {}, kOverflow},
        ParseCase{"ThirdBeatsSecond", "1.x.9999999999.4", {}, kOverflow}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseAddress, EveryLow8BitValueOfEveryPartLandsInItsByte) {
    for (int part = 0; part < 4; ++part) {
        for (int value = 0; value < 256; ++value) {
            std::string text;
            for (int i = 0; i < 4; ++i)
                text += (i ? "." : "") + std::to_string(i == part ? value : 0);
            EXPECT_EQ(static_cast<std::uint32_t>(ParseAddress(text)),
                      static_cast<std::uint32_t>(value) << (8 * part))
                << text;
        }
    }
}

TEST(ParseAddress, ErrorsSayWhatIsWrongInWords) {
    try {
        ParseAddress("1.2.3.abc");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("abc"), std::string::npos);
    }
}

} // namespace
} // namespace tarnwick

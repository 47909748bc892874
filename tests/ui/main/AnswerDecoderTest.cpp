// Bytes of a WHOIS answer to text: UTF-8 across piece boundaries, invalid bytes, NUL bytes.
#include "ui/main/AnswerDecoder.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

struct DecodeRow {
    const char* name;
    std::vector<std::string> pieces;
    std::u16string expected; // after the last piece and Finish
};
void PrintTo(const DecodeRow& row, std::ostream* out) {
    *out << row.name;
}

class AnswerDecoderRows : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(AnswerDecoderRows, TurnsThePiecesIntoTheExpectedText) {
    AnswerDecoder decoder;
    QString text;
    for (const std::string& piece : GetParam().pieces) {
        text += decoder.Decode(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
    }
    text += decoder.Finish();
    EXPECT_EQ(text.toStdU16String(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, AnswerDecoderRows,
    ::testing::Values(
        DecodeRow{"AsciiOneCharacterPerByte", {"Domain: A\r\n", "B\tC ~"}, u"Domain: A\r\nB\tC ~"},
        DecodeRow{"TwoByteCharacterSplit", {"caf\xC3", "\xA9!"}, u"caf\u00E9!"},
        DecodeRow{"FourByteCharacterSplitThreeWays", {"\xF0\x9F", "\x98", "\x80."}, u"\U0001F600."},
        DecodeRow{"InvalidBytesBecomeReplacements", {"a\xFF", "b\xC3(c"}, u"a\uFFFDb\uFFFD(c"},
        DecodeRow{
            "CutCharacterAtAPieceEndKeepsTheNextByte", {"b\xE2\x82", "(c"}, u"b\uFFFD\uFFFD(c"},
        DecodeRow{"NulBytesBecomeVisibleAndKeepWhatFollows",
                  {std::string("a\0b", 3), std::string("\0", 1)},
                  u"a\u2400b\u2400"},
        DecodeRow{"UnfinishedCharacterAtTheEndIsAReplacement", {"ok\xE2\x82"}, u"ok\uFFFD\uFFFD"},
        DecodeRow{"ByteOrderMarksAreKept", {"\xEF\xBB\xBFx", "\xEF\xBB\xBFy"}, u"\uFEFFx\uFEFFy"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnswerDecoder, HoldsBackOnlyTheUnfinishedCharacter) {
    AnswerDecoder decoder;
    EXPECT_EQ(decoder.Decode("ab\xE2\x82"), QStringLiteral("ab"));
    EXPECT_EQ(decoder.Decode("\xAC"), QString::fromUtf16(u"\u20AC"));
}

TEST(AnswerDecoder, ResetForgetsAHalfCharacterOfTheLastAnswer) {
    AnswerDecoder decoder;
    EXPECT_EQ(decoder.Decode("\xC3"), QString());
    decoder.Reset();
    EXPECT_EQ(decoder.Decode("x"), QStringLiteral("x"));
    EXPECT_EQ(decoder.Finish(), QString());
}

} // namespace
} // namespace tarnwick

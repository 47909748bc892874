// Bytes of a WHOIS answer to text: UTF-8 across piece boundaries, invalid bytes, NUL bytes.
#include "ui/main/AnswerDecoder.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// Guards a character of two, three or four bytes split between pieces coming out whole, and
// nothing dropped: not the byte after a cut character, not NUL bytes, not a byte-order mark;
// and Reset forgetting a half character of the last answer.
TEST(AnswerDecoder, TurnsThePiecesIntoTheirText) {
    const std::pair<std::vector<QByteArray>, std::u16string> rows[] = {
        {{"caf\xC3", "\xA9!"}, u"caf\u00E9!"},
        {{"\xE2\x82", "\xAC"}, u"\u20AC"},
        {{"\xF0\x9F", "\x98", "\x80."}, u"\U0001F600."},
        {{"a\xFF", "b\xC3(c"}, u"a\uFFFDb\uFFFD(c"},
        {{"b\xE2\x82", "(c"}, u"b\uFFFD\uFFFD(c"},
        {{QByteArray("a\0b", 3), QByteArray("\0", 1)}, u"a\u2400b\u2400"},
        {{"ok\xE2\x82"}, u"ok\uFFFD\uFFFD"},
        {{"\xEF\xBB\xBFx", "\xEF\xBB\xBFy"}, u"\uFEFFx\uFEFFy"}};
    for (const auto& [pieces, expected] : rows) {
        AnswerDecoder decoder;
        QString text;
        for (const QByteArray& piece : pieces)
            text += decoder.Decode(piece);
        EXPECT_EQ((text + decoder.Finish()).toStdU16String(), expected) << pieces[0].toHex().data();
    }
    AnswerDecoder decoder;
    EXPECT_EQ(decoder.Decode("ab\xC3"), QStringLiteral("ab"));
    decoder.Reset();
    EXPECT_EQ(decoder.Decode("x") + decoder.Finish(), QStringLiteral("x"));
}

} // namespace
} // namespace tarnwick

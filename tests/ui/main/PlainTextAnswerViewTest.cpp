// The answer box: pieces added at the end show the same text as setting the whole answer.
#include "ui/main/PlainTextAnswerView.h"

#include "tests/support/QtEventLoop.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <random>

namespace tarnwick {
namespace {

using testing::TestApplication;

// What a box shows when it is given the whole text at once.
QString ShownAtOnce(const QString& whole) {
    TestApplication();
    QPlainTextEdit box;
    PlainTextAnswerView(box).SetText(whole);
    return box.toPlainText();
}

QStringList LineLengths(const QPlainTextEdit& box) {
    QStringList lengths;
    for (const QString& line : box.toPlainText().split(u'\n')) {
        lengths << QString::number(line.size());
    }
    return lengths;
}

class PlainTextAnswerViewTest : public ::testing::Test, private testing::WithApplication {
protected:
    void Append(const QString& piece) {
        whole_ += piece;
        view_.Append(piece, whole_);
    }
    QPlainTextEdit box_;
    PlainTextAnswerView view_{box_};
    QString whole_;
};

TEST_F(PlainTextAnswerViewTest, AddsPiecesWithoutLineBreaksOfItsOwn) {
    Append("Domain Name: EXAMPLE");
    Append(".COM\nRegistrar: ");
    Append("X");
    EXPECT_EQ(box_.toPlainText(), QStringLiteral("Domain Name: EXAMPLE.COM\nRegistrar: X"));
}

TEST_F(PlainTextAnswerViewTest, CrLfSplitBetweenPiecesIsOneLineEndAsInTheWholeText) {
    Append("one\r");
    EXPECT_EQ(box_.toPlainText(), ShownAtOnce(whole_));
    Append("\ntwo\r\n\r");
    Append("\n");
    Append("\rthree\n");
    EXPECT_EQ(box_.toPlainText(), ShownAtOnce(whole_));
    EXPECT_EQ(box_.blockCount(), 6); // one, two, empty, empty (lone CR), three, empty
}

TEST_F(PlainTextAnswerViewTest, TextTypedIntoTheBoxIsReplacedByTheWholeAnswerAtTheNextPiece) {
    Append("first\n");
    QTextCursor cursor(box_.document());
    cursor.insertText("typed by the user ");
    Append("second");
    EXPECT_EQ(box_.toPlainText(), QStringLiteral("first\nsecond"));
    box_.clear();
    Append(" third");
    EXPECT_EQ(box_.toPlainText(), QStringLiteral("first\nsecond third"));
}

TEST_F(PlainTextAnswerViewTest, SetTextReplacesEverything) {
    Append("old answer");
    view_.SetText(" No domain name was entered.");
    EXPECT_EQ(box_.toPlainText(), QStringLiteral(" No domain name was entered."));
}

TEST_F(PlainTextAnswerViewTest, EndlessLineIsShownInLinesOfAFixedLengthAcrossPieces) {
    Append(QString(1000, u'a'));
    Append(QString(1000, u'b') + "\nshort\n");
    Append(QString(1048, u'c'));
    EXPECT_EQ(LineLengths(box_), QStringList({"1024", "976", "5", "1024", "24"}));
    EXPECT_EQ(box_.toPlainText().remove(u'\n'), QString(whole_).remove(u'\n'));
    EXPECT_EQ(box_.toPlainText(), ShownAtOnce(whole_));
}

TEST_F(PlainTextAnswerViewTest, LineBreakNeverSplitsASurrogatePair) {
    const QString face = QString::fromUtf16(u"\U0001F600");
    Append(QString(kLongestShownLine - 1, u'a') + face + face);
    const QStringList lines = box_.toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(face));
    EXPECT_EQ(lines[1], face);
}

TEST_F(PlainTextAnswerViewTest, BreakCanComeFirstInAPiece) {
    Append(QString(kLongestShownLine, u'a'));
    Append("b");
    EXPECT_EQ(LineLengths(box_), QStringList({"1024", "1"}));
}

// Random pieces of awkward characters: after every piece the box shows what it would show
// had it been given the whole text at once.
TEST_F(PlainTextAnswerViewTest, RandomPiecesAlwaysShowTheWholeText) {
    const char16_t alphabet[] = {u'a',      u' ',      u'\r',     u'\n',     u'\t',     u'\u2400',
                                 u'\uFFFD', u'\u00E9', u'\u2028', u'\u2029', u'\uFEFF', u'\f'};
    std::mt19937 random(4321);
    for (int round = 0; round < 300; ++round) {
        QString piece;
        const int length = static_cast<int>(random() % 6);
        for (int i = 0; i < length; ++i) {
            piece += QChar(alphabet[random() % std::size(alphabet)]);
        }
        Append(piece);
        ASSERT_EQ(box_.toPlainText(), ShownAtOnce(whole_)) << "after piece " << round;
    }
}

} // namespace
} // namespace tarnwick

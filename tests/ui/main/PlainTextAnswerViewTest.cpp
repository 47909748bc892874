// The answer box: pieces added at the end show the same text as setting the whole answer.
#include "ui/main/PlainTextAnswerView.h"

#include "tests/support/QtEventLoop.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <random>

namespace tarnwick {
namespace {

using testing::WaitUntil;

class PlainTextAnswerViewTest : public ::testing::Test {
protected:
    void Append(const QString& piece) {
        whole_ += piece;
        view_.Append(piece, whole_);
    }
    bool Shows(const QString& text) {
        return WaitUntil([&] { return box_.toPlainText() == text; });
    }
    // What a box shows when it is given the whole text at once.
    static QString ShownAtOnce(const QString& whole) {
        QPlainTextEdit box;
        PlainTextAnswerView view(box);
        view.SetText(whole);
        WaitUntil([&] { return !box.toPlainText().isEmpty() || whole.isEmpty(); });
        return box.toPlainText();
    }
    QPlainTextEdit box_;
    PlainTextAnswerView view_{box_};
    QString whole_;
};

// Guards CR LF split between pieces, lone CRs, separators and every other awkward character:
// after every random piece the box shows what the whole text at once would.
TEST_F(PlainTextAnswerViewTest, RandomPiecesAlwaysShowTheWholeText) {
    const char16_t alphabet[] = {u'a',      u' ',      u'\r',     u'\n',     u'\t',
                                 u'\u2400', u'\uFFFD', u'\u2028', u'\u2029', u'\f'};
    std::mt19937 random(4321);
    for (int round = 0; round < 300; ++round) {
        QString piece;
        for (int i = static_cast<int>(random() % 6); i > 0; --i)
            piece += QChar(alphabet[random() % std::size(alphabet)]);
        Append(piece);
        ASSERT_TRUE(Shows(ShownAtOnce(whole_))) << "after piece " << round;
    }
}

// Guards an endless line shown in lines of a fixed length across pieces, never between the
// halves of a surrogate pair; and the box never drifting from the answer after the user typed.
TEST_F(PlainTextAnswerViewTest, EndlessLineIsShownInLinesOfAFixedLength) {
    const QString face = QString::fromUtf16(u"\U0001F600");
    Append(QString(1000, u'a'));
    Append(QString(1000, u'b') + "\nshort\n");
    Append(QString(kLongestShownLine - 1, u'c') + face + face);
    EXPECT_TRUE(Shows(QString(1000, u'a') + QString(24, u'b') + "\n" + QString(976, u'b') +
                      "\nshort\n" + QString(kLongestShownLine - 1, u'c') + face + "\n" + face));
    QTextCursor(box_.document()).insertText("typed by the user ");
    Append("!");
    EXPECT_TRUE(Shows(ShownAtOnce(whole_)));
}

} // namespace
} // namespace tarnwick

// Shows a WHOIS answer in a plain-text box, adding each new piece at the end.
#include "ui/main/PlainTextAnswerView.h"

#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QTextCursor>
#include <QTextDocument>

namespace tarnwick {

namespace {

// The characters that a text document turns into a paragraph break.
bool EndsLine(QChar character) {
    switch (character.unicode()) {
    case u'\n':
    case u'\r':
    case QChar::ParagraphSeparator:
    case 0xFDD0: // start of a frame
    case 0xFDD1: // end of a frame
        return true;
    default:
        return false;
    }
}

// `text` with a line feed wherever a line would pass kLongestShownLine characters;
// `lineLength` holds the length of the line that `text` continues and is updated.
QString BreakLongLines(QStringView text, qsizetype& lineLength) {
    QString broken;
    qsizetype copied = 0;
    bool didBreak = false;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar character = text[at];
        if (EndsLine(character)) {
            lineLength = 0;
            continue;
        }
        if (lineLength >= kLongestShownLine && !character.isLowSurrogate()) {
            broken += text.sliced(copied, at - copied);
            broken += u'\n';
            copied = at;
            lineLength = 0;
            didBreak = true;
        }
        ++lineLength;
    }
    if (!didBreak) {
        return text.toString();
    }
    broken += text.sliced(copied);
    return broken;
}

} // namespace

PlainTextAnswerView::PlainTextAnswerView(QPlainTextEdit& box) : QObject(&box), box_(box) {
    // The answer is read-out text: an undo stack would only hold the answer a second time.
    box_.setUndoRedoEnabled(false);
    connect(box_.document(), &QTextDocument::contentsChange, this, [this] {
        if (!writing_) {
            changedByOthers_ = true;
        }
    });
}

void PlainTextAnswerView::SetText(const QString& text) {
    const QScopedValueRollback writing(writing_, true);
    lastLineLength_ = 0;
    box_.setPlainText(BreakLongLines(text, lastLineLength_));
    changedByOthers_ = false;
}

void PlainTextAnswerView::Append(const QString& piece, const QString& whole) {
    if (changedByOthers_) {
        SetText(whole);
        return;
    }
    QStringView text(piece);
    // The box turns CR LF into one line break, also when the CR ended the previous piece.
    const qsizetype before = whole.size() - piece.size() - 1;
    if (text.startsWith(u'\n') && before >= 0 && whole.at(before) == u'\r') {
        text = text.sliced(1);
    }
    if (text.isEmpty()) {
        return;
    }
    const QScopedValueRollback writing(writing_, true);
    QTextCursor end(box_.document());
    end.movePosition(QTextCursor::End);
    end.insertText(BreakLongLines(text, lastLineLength_));
}

} // namespace tarnwick

// Shows a WHOIS answer in a plain-text box, adding each new piece at the end.
#pragma once

#include "ui/main/AnswerView.h"

#include <QObject>
#include <QString>

class QPlainTextEdit;

namespace tarnwick {

// A text widget lays out a whole line again whenever it grows, so an endless line would cost
// more with every piece; lines longer than this are shown broken into lines of this length.
inline constexpr qsizetype kLongestShownLine = 1024;

// Each piece costs in proportion to its own length, not to the answer so far. When anything
// else has changed the box since it was last written (the user typing into it), the next
// piece writes the whole text again so the box never drifts from the answer.
class PlainTextAnswerView final : public QObject, public AnswerView {
    Q_OBJECT
public:
    explicit PlainTextAnswerView(QPlainTextEdit& box);

    void SetText(const QString& text) override;
    void Append(const QString& piece, const QString& whole) override;

private:
    QPlainTextEdit& box_;
    bool writing_ = false;
    bool changedByOthers_ = false;
    // Characters on the box's last line, to know where an overlong line needs its next break.
    qsizetype lastLineLength_ = 0;
};

} // namespace tarnwick

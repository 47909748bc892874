// Shows a WHOIS answer in a plain-text box, adding each new piece at the end.
#pragma once

#include "whois/AnswerLines.h"
#include "whois/AnswerView.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>

class QPlainTextEdit;

namespace tarnwick {

// What a piece costs the box is counted in characters' worth: a line break makes a block of its
// own, which costs the box about as much as this many characters of a line.
inline constexpr qsizetype kLineBreakCost = 40;
// Pieces that cost up to this much are shown at once when nothing waits before them.
inline constexpr qsizetype kShownAtOnce = 8 * 1024;
// How long one turn of the event loop should spend writing text that waits, and the bounds of
// one such write, in characters' worth.
inline constexpr std::chrono::milliseconds kWriteBudget{2};
inline constexpr qsizetype kSmallestWrite = 1024;
inline constexpr qsizetype kLargestWrite = 64 * 1024;
// Arrivals closer together than this are written together.
inline constexpr std::chrono::milliseconds kFrameInterval{16};

// Each piece costs in proportion to its own length and lines, not to the answer so far. Text
// that comes faster than the box can take without holding up the window waits here and is
// written over the following turns of the event loop, in order; small pieces are shown at
// once. When anything else has changed the box since it was last written (the user typing into
// it), the next piece writes the whole text again so the box never drifts from the answer.
class PlainTextAnswerView final : public QObject, public AnswerView {
    Q_OBJECT
public:
    explicit PlainTextAnswerView(QPlainTextEdit& box);

    void SetText(const QString& text) override;
    void Append(const QString& piece, QStringView before) override;

    // Whether text handed in is still waiting to be written into the box.
    bool HasPending() const { return !pending_.empty(); }

private:
    void WritePending();
    void Write(QStringView text);

    QPlainTextEdit& box_;
    bool writing_ = false;
    bool changedByOthers_ = false;
    // Where the box's last line stands: a CR LF split between writes, an overlong line.
    ShownLines shownLines_;
    // Text not yet written, oldest first; the first entry is written from pendingFrom_ on.
    std::deque<QString> pending_;
    qsizetype pendingFrom_ = 0;
    QTimer writeTimer_;
    // What was written since the current frame began, in characters' worth, and when it began.
    qsizetype writtenInFrame_ = 0;
    QElapsedTimer frame_;
    // How fast the box took text so far, in characters' worth; the first write assumes a slow
    // machine.
    double costPerMillisecond_ = 2 * 1024;
};

} // namespace tarnwick

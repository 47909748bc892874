// Shows a WHOIS answer in a plain-text box, adding each new piece at the end.
#include "ui/main/PlainTextAnswerView.h"

#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace tarnwick {

namespace {

qsizetype WriteCost(QChar character) {
    return EndsLine(character) ? kLineBreakCost : 1;
}

qsizetype WriteCost(QStringView text) {
    qsizetype cost = 0;
    for (const QChar character : text) {
        cost += WriteCost(character);
    }
    return cost;
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
    writeTimer_.setSingleShot(true);
    connect(&writeTimer_, &QTimer::timeout, this, &PlainTextAnswerView::WritePending);
    frame_.start();
}

void PlainTextAnswerView::SetText(const QString& text) {
    // Whatever still waits belongs to the text being replaced.
    pending_.clear();
    pendingFrom_ = 0;
    writeTimer_.stop();
    shownLines_ = {};
    const bool atOnce = WriteCost(text) <= kShownAtOnce;
    {
        const QScopedValueRollback writing(writing_, true);
        box_.setPlainText(atOnce ? shownLines_.Next(text) : QString());
    }
    changedByOthers_ = false;
    if (!atOnce) {
        pending_.push_back(text);
        WritePending();
    }
}

void PlainTextAnswerView::Append(const QString& piece, QStringView before) {
    if (changedByOthers_) {
        SetText(before.toString() + piece);
        return;
    }
    if (piece.isEmpty()) {
        return;
    }
    if (frame_.elapsed() >= kFrameInterval.count()) {
        frame_.restart();
        writtenInFrame_ = 0;
    }
    if (pending_.empty()) {
        if (const qsizetype cost = WriteCost(piece); writtenInFrame_ + cost <= kShownAtOnce) {
            writtenInFrame_ += cost;
            Write(piece);
            return;
        }
    }
    // Small pieces are joined so that each write hands the box a useful amount.
    if (!pending_.empty() && pending_.back().size() < kShownAtOnce) {
        pending_.back() += piece;
    } else {
        pending_.push_back(piece);
    }
    if (!writeTimer_.isActive()) {
        // Text that comes faster than frames are drawn waits for the next frame.
        const qint64 frameLeft = kFrameInterval.count() - frame_.elapsed();
        writeTimer_.start(writtenInFrame_ == 0 ? 0 : std::max<qint64>(0, frameLeft));
    }
}

void PlainTextAnswerView::WritePending() {
    frame_.restart();
    writtenInFrame_ = 0;
    // One write a turn, as much as the budget allows at the pace of the writes before.
    const qsizetype size =
        std::clamp(static_cast<qsizetype>(costPerMillisecond_ * double(kWriteBudget.count())),
                   kSmallestWrite, kLargestWrite);
    QElapsedTimer spent;
    spent.start();
    while (!pending_.empty() && writtenInFrame_ < size) {
        const QString& first = pending_.front();
        qsizetype end = pendingFrom_;
        while (end < first.size() && writtenInFrame_ < size) {
            writtenInFrame_ += WriteCost(first.at(end++));
        }
        // A surrogate pair goes into the box in one write.
        if (end < first.size() && first.at(end).isLowSurrogate()) {
            ++end;
            ++writtenInFrame_;
        }
        Write(QStringView(first).sliced(pendingFrom_, end - pendingFrom_));
        if (end == first.size()) {
            pending_.pop_front();
            pendingFrom_ = 0;
        } else {
            pendingFrom_ = end;
        }
    }
    const double milliseconds = static_cast<double>(spent.nsecsElapsed()) / 1e6;
    if (writtenInFrame_ >= size && milliseconds > 0) {
        costPerMillisecond_ =
            (costPerMillisecond_ + static_cast<double>(writtenInFrame_) / milliseconds) / 2;
    }
    if (!pending_.empty()) {
        // The rest follows once the window has had its turn.
        writeTimer_.start(0);
    }
}

void PlainTextAnswerView::Write(QStringView text) {
    const QString shown = shownLines_.Next(text);
    if (shown.isEmpty()) {
        return;
    }
    const QScopedValueRollback writing(writing_, true);
    QTextCursor end(box_.document());
    end.movePosition(QTextCursor::End);
    end.insertText(shown);
}

} // namespace tarnwick

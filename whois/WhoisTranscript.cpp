// What a lookup shows: every server's answer in order, within fixed bounds.
#include "whois/WhoisTranscript.h"

#include "whois/AnswerView.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr qint64 kMebibyte = 1024 * 1024;
// Text past this length gets room for all the answer may grow to at once: grown by doubling,
// it would be copied whole, megabytes at a time, while the window waits. Room that is never
// written takes no memory in a block mapped on its own.
constexpr qsizetype kReservedFrom = 64 * 1024;
constexpr qsizetype kRoomForNotes = 4 * 1024;

bool EndsInLineBreak(const QString& text) {
    return !text.isEmpty() && EndsLine(text.back());
}

} // namespace

WhoisTranscript::WhoisTranscript(AnswerView& view) : view_(view) {}

void WhoisTranscript::Clear() {
    text_.clear();
    decoder_ = {};
    referralScanner_ = {};
    answerStart_ = 0;
    received_ = 0;
    lines_ = 0;
    lineEnds_ = {};
    cut_ = cutByLines_ = false;
    shownMessage_.clear();
    view_.SetText(QString());
}

void WhoisTranscript::ShowMessage(const QString& message) {
    shownMessage_ = message;
    view_.SetText(message);
}

void WhoisTranscript::Add(QByteArrayView bytes) {
    received_ += bytes.size();
    if (cut_) {
        return;
    }
    QString text = decoder_.Decode(bytes);
    const qsizetype kept = WithinLineLimit(text);
    if (kept < text.size()) {
        text.truncate(kept);
        cut_ = cutByLines_ = true;
    }
    Append(text);
}

qsizetype WhoisTranscript::WithinLineLimit(QStringView text) {
    for (qsizetype at = 0; at < text.size(); ++at) {
        const LineEnds::Kind kind = lineEnds_.Read(text[at]);
        if (kind == LineEnds::Kind::CrLfTail) {
            continue;
        }
        if (lines_ == lineLimit_) {
            return at;
        }
        if (kind == LineEnds::Kind::LineEnd) {
            ++lines_;
        }
    }
    return text.size();
}

QString WhoisTranscript::CutNote() const {
    if (cutByLines_) {
        return QStringLiteral(" The answer was cut off at %1 lines.").arg(lineLimit_);
    }
    if (byteLimit_ % kMebibyte == 0) {
        return QStringLiteral(" The answer was cut off at %1 MiB.").arg(byteLimit_ / kMebibyte);
    }
    return QStringLiteral(" The answer was cut off at %1 bytes.").arg(byteLimit_);
}

void WhoisTranscript::EndAnswer() {
    // Finish also empties the decoder for the next answer.
    const QString rest = decoder_.Finish();
    if (!cut_) {
        Append(rest);
    }
}

void WhoisTranscript::StartAnswerFrom(const QString& host) {
    QString heading = QStringLiteral("\n Answer from %1:\n\n").arg(host);
    if (!EndsInLineBreak(text_)) {
        heading.prepend(u'\n');
    }
    text_ += heading;
    view_.Append(heading, QStringView(text_).chopped(heading.size()));
    answerStart_ = text_.size();
    referralScanner_ = {};
}

void WhoisTranscript::AddNote(const QString& line) {
    const QString& shown = shownMessage_.isEmpty() ? text_ : shownMessage_;
    QString note = line;
    if (!shown.isEmpty() && !EndsInLineBreak(shown)) {
        note.prepend(u'\n');
    }
    view_.Append(note, shown);
}

void WhoisTranscript::Append(const QString& text) {
    if (text.isEmpty()) {
        return;
    }
    if (text_.size() + text.size() > text_.capacity() && text_.size() >= kReservedFrom) {
        text_.reserve(std::max(text_.size() + text.size(), byteLimit_ + kRoomForNotes));
    }
    text_ += text;
    referralScanner_.Scan(QStringView(text_).sliced(answerStart_));
    if (shownMessage_.isEmpty()) {
        view_.Append(text, QStringView(text_).chopped(text.size()));
    } else {
        // The server's text replaces the message.
        shownMessage_.clear();
        view_.SetText(text_);
    }
}

} // namespace tarnwick

// What a lookup shows: every server's answer in order, each referred one under its heading,
// notes under them, within fixed bounds.
#pragma once

#include "whois/AnswerDecoder.h"
#include "whois/AnswerLines.h"
#include "whois/WhoisReferral.h"

#include <QString>

#include <optional>

namespace tarnwick {

class AnswerView;

inline constexpr qint64 kWhoisAnswerLimit = 8 * 1024 * 1024;
// A text box spends memory and time on every line, however short: eight million empty lines
// would take a gigabyte. Real answers have a few hundred.
inline constexpr qsizetype kWhoisLineLimit = 100000;

// The received text of a lookup and the view it is shown in. The text is the decoded bytes of
// every server asked, with headings between the answers; messages and notes are shown but are
// not part of it.
class WhoisTranscript {
public:
    explicit WhoisTranscript(AnswerView& view);

    void SetLimits(qint64 bytes, qsizetype lines) {
        byteLimit_ = bytes;
        lineLimit_ = lines;
    }

    // Empties the text and the view for a new lookup.
    void Clear();
    // Shows `message` instead of the text until a server's text replaces it.
    void ShowMessage(const QString& message);
    // Bytes the answers may still bring, counted over every server of the lookup.
    qint64 Room() const { return byteLimit_ - received_; }
    // Adds bytes that the server sent, at most Room(). Text past the line limit is dropped and
    // the answer counts as cut.
    void Add(QByteArrayView bytes);
    // Whether the answer lost text to a limit; CutNote says which.
    bool IsCut() const { return cut_; }
    void CutOffAtByteLimit() { cut_ = true; }
    QString CutNote() const;
    // The end of the current server's answer: a character cut short comes out.
    void EndAnswer();
    // The server the ended answer refers to, if any.
    const std::optional<WhoisReferral>& Referral() const { return referralScanner_.Referral(); }
    // The next server's answer follows under a heading with its name.
    void StartAnswerFrom(const QString& host);
    // A line under what is shown, on a line of its own.
    void AddNote(const QString& line);

    const QString& Text() const { return text_; }
    qint64 BytesReceived() const { return received_; }

private:
    void Append(const QString& text);
    // How much of `text` fits within the line limit.
    qsizetype WithinLineLimit(QStringView text);

    AnswerView& view_;
    qint64 byteLimit_ = kWhoisAnswerLimit;
    qsizetype lineLimit_ = kWhoisLineLimit;
    QString text_;
    AnswerDecoder decoder_;
    ReferralScanner referralScanner_;
    qsizetype answerStart_ = 0; // where the current server's answer starts in text_
    qint64 received_ = 0;
    qsizetype lines_ = 0; // line ends received
    LineEnds lineEnds_;
    bool cut_ = false;
    bool cutByLines_ = false;
    // What the view shows instead of the text, empty while it shows the text.
    QString shownMessage_;
};

} // namespace tarnwick

// Finds where a WHOIS answer sends the asker next.
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace tarnwick {

struct WhoisReferral {
    QString host;
    std::optional<quint16> port; // none: the referral names no port
};

// Where an answer refers the asker, read a piece at a time so that a long answer is never
// searched in one go: each Scan reads the lines of the answer so far that it has not read. Only
// a line that a line end (whois/AnswerLines.h) follows is read, even once the answer has ended: a
// connection reset looks like the server's close, and a line it cut may name half a host.
//
// The first line keyed `ReferralServer` (ARIN: whois://HOST[:PORT][/]) or `refer` (IANA: a bare
// host), keys in any case, decides; anything but a WHOIS referral to a plain host name or
// address (rwhois://, http://, a path, a bad port) gives none.
class ReferralScanner {
public:
    void Scan(QStringView answer);
    const std::optional<WhoisReferral>& Referral() const { return referral_; }

private:
    // Whether the line is a referral line, which decides.
    bool ReadLine(QStringView line);

    qsizetype seen_ = 0;     // lines before this are read
    qsizetype searched_ = 0; // no line end stands between seen_ and this
    qsizetype colon_ = -1;   // the first colon after seen_, once found
    bool decided_ = false;
    std::optional<WhoisReferral> referral_;
};

} // namespace tarnwick

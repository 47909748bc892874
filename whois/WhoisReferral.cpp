// Finds where a WHOIS answer sends the asker next.
#include "whois/WhoisReferral.h"

#include "whois/AnswerLines.h"

#include <QLatin1StringView>

#include <algorithm>

namespace tarnwick {

namespace {

// "whois://", a host name of 253 characters, ":65535" and "/".
constexpr qsizetype kLongestReferralValue = 8 + 253 + 6 + 1;

// Letters, digits, dots and hyphens only: the name goes to the resolver and into the box.
bool IsHostName(QStringView host) {
    return !host.isEmpty() && host.size() <= 253 &&
           std::all_of(host.begin(), host.end(), [](QChar character) {
               const char16_t code = character.unicode();
               return (code >= u'a' && code <= u'z') || (code >= u'A' && code <= u'Z') ||
                      (code >= u'0' && code <= u'9') || code == u'.' || code == u'-';
           });
}

std::optional<WhoisReferral> FromWhoisUrl(QStringView value) {
    const QLatin1StringView scheme("whois://");
    if (!value.startsWith(scheme, Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    value = value.sliced(scheme.size());
    if (value.endsWith(u'/')) {
        value.chop(1);
    }
    WhoisReferral referral;
    const qsizetype colon = value.indexOf(u':');
    if (colon >= 0) {
        bool isNumber = false;
        const uint port = value.sliced(colon + 1).toUInt(&isNumber);
        if (!isNumber || port == 0 || port > 65535) {
            return std::nullopt;
        }
        referral.port = static_cast<quint16>(port);
        value = value.first(colon);
    }
    if (!IsHostName(value)) {
        return std::nullopt;
    }
    referral.host = value.toString();
    return referral;
}

} // namespace

bool ReferralScanner::ReadLine(QStringView line) {
    if (colon_ < 0) {
        return false;
    }
    const QStringView key = line.first(colon_ - seen_).trimmed();
    const QStringView value = line.sliced(colon_ - seen_ + 1).trimmed();
    const bool isServer = key.compare(u"ReferralServer", Qt::CaseInsensitive) == 0;
    if (!isServer && key.compare(u"refer", Qt::CaseInsensitive) != 0) {
        return false;
    }
    // Longer than any scheme, host name and port together: not a referral, and not worth
    // reading through.
    if (value.size() <= kLongestReferralValue) {
        if (isServer) {
            referral_ = FromWhoisUrl(value);
        } else if (IsHostName(value)) {
            referral_ = WhoisReferral{value.toString(), std::nullopt};
        }
    }
    return true;
}

void ReferralScanner::Scan(QStringView answer) {
    while (!decided_) {
        const qsizetype from = std::max(seen_, searched_);
        // A CR LF ends the line at its CR and leaves an empty line, which never refers.
        const qsizetype lineEnd =
            std::find_if(answer.begin() + from, answer.end(), EndsLine) - answer.begin();
        // The line's first colon is looked for in each stretch of the line once, as it arrives,
        // so that an endless line is never searched through in one go.
        if (colon_ < 0) {
            colon_ = answer.first(lineEnd).indexOf(u':', from);
        }
        if (lineEnd == answer.size()) {
            searched_ = answer.size();
            return;
        }
        decided_ = ReadLine(answer.sliced(seen_, lineEnd - seen_));
        seen_ = searched_ = lineEnd + 1;
        colon_ = -1;
    }
}

} // namespace tarnwick

// Finds where a WHOIS answer sends the asker next.
#include "ui/main/WhoisReferral.h"

#include <QLatin1StringView>

namespace tarnwick {

namespace {

// Letters, digits, dots and hyphens only: the name goes to the resolver and into the box.
bool IsHostName(QStringView host) {
    if (host.isEmpty() || host.size() > 253) {
        return false;
    }
    for (const QChar character : host) {
        const char16_t code = character.unicode();
        const bool allowed = (code >= u'a' && code <= u'z') || (code >= u'A' && code <= u'Z') ||
                             (code >= u'0' && code <= u'9') || code == u'.' || code == u'-';
        if (!allowed) {
            return false;
        }
    }
    return true;
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

std::optional<WhoisReferral> FindReferral(QStringView answer) {
    for (QStringView line : answer.tokenize(u'\n')) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0) {
            continue;
        }
        const QStringView key = line.first(colon).trimmed();
        const QStringView value = line.sliced(colon + 1).trimmed();
        if (key.compare(u"ReferralServer", Qt::CaseInsensitive) == 0) {
            return FromWhoisUrl(value);
        }
        if (key.compare(u"refer", Qt::CaseInsensitive) == 0) {
            if (!IsHostName(value)) {
                return std::nullopt;
            }
            return WhoisReferral{value.toString(), std::nullopt};
        }
    }
    return std::nullopt;
}

} // namespace tarnwick

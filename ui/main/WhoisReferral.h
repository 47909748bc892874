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

// The first line keyed `ReferralServer` (ARIN: whois://HOST[:PORT][/]) or `refer` (IANA: a bare
// host), keys in any case, decides; anything but a WHOIS referral to a plain host name or
// address (rwhois://, http://, a path, a bad port) gives none.
std::optional<WhoisReferral> FindReferral(QStringView answer);

} // namespace tarnwick

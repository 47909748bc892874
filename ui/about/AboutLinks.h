// The About window's web links: what the list shows, the key it remembers, the address opened.
#pragma once

#include <array>

namespace tarnwick {

struct LinkEntry {
    const char* label;
    const char* key;
    const char* address;
};

inline constexpr std::array<LinkEntry, 5> kLinks = {{
    {"RFC 792 - ICMP", "icmp-rfc", "https://www.rfc-editor.org/rfc/rfc792"},
    {"RFC 3912 - WHOIS", "whois-rfc", "https://www.rfc-editor.org/rfc/rfc3912"},
    {"ARIN Whois Search", "arin", "https://search.arin.net/"},
    {"RIPE NCC Database", "ripe-ncc", "https://apps.db.ripe.net/db-web-ui/query"},
    {"IANA Whois Service", "iana", "https://www.iana.org/whois"},
}};

} // namespace tarnwick

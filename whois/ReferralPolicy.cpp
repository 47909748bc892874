// Where a referral may lead.
#include "whois/ReferralPolicy.h"

#include <QNetworkInterface>
#include <QtEndian>

#include <algorithm>
#include <iterator>

namespace tarnwick {

namespace {

// Where `address` is delivered: the IPv4 address an IPv6 one carries, or the address itself.
QHostAddress Delivered(const QHostAddress& address) {
    if (address.protocol() != QAbstractSocket::IPv6Protocol) {
        return address;
    }
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    const auto zeros = [&bytes](int from, int to) {
        return std::all_of(bytes.c + from, bytes.c + to, [](quint8 byte) { return byte == 0; });
    };
    const auto ipv4At = [&bytes](int at) {
        return QHostAddress(qFromBigEndian<quint32>(bytes.c + at));
    };
    const bool nat64 =
        bytes[0] == 0x00 && bytes[1] == 0x64 && bytes[2] == 0xff && bytes[3] == 0x9b && zeros(4, 5);
    if (nat64 && bytes[5] == 1) {
        // 64:ff9b:1::/48 is for local translators of any prefix length: only its /96 form
        // tells where the IPv4 address sits.
        return zeros(6, 12) ? ipv4At(12) : QHostAddress(QHostAddress::AnyIPv4);
    }
    const bool mapped = zeros(0, 10) && bytes[10] == 0xff && bytes[11] == 0xff;
    if (mapped || zeros(0, 12) || (nat64 && zeros(5, 12))) {
        return ipv4At(12);
    }
    if (bytes[0] == 0x20 && bytes[1] == 0x02) { // 6to4
        return ipv4At(2);
    }
    return address;
}

bool IsPublicIpv4(quint32 ipv4) {
    struct Range {
        quint32 first;
        int bits;
    };
    // This network, private, shared (carrier NAT), loopback, link-local, private, protocol
    // assignments, private, benchmarking, multicast, and reserved up to the broadcast address.
    constexpr Range kNotPublic[] = {{0x00000000, 8},  {0x0A000000, 8},  {0x64400000, 10},
                                    {0x7F000000, 8},  {0xA9FE0000, 16}, {0xAC100000, 12},
                                    {0xC0000000, 24}, {0xC0A80000, 16}, {0xC6120000, 15},
                                    {0xE0000000, 4},  {0xF0000000, 4}};
    return std::none_of(std::begin(kNotPublic), std::end(kNotPublic), [ipv4](const Range& range) {
        return ipv4 >> (32 - range.bits) == range.first >> (32 - range.bits);
    });
}

} // namespace

bool IsPublicAddress(const QHostAddress& address, const QList<QHostAddress>& own) {
    const QHostAddress delivered = Delivered(address);
    if (std::any_of(own.begin(), own.end(), [&delivered](const QHostAddress& mine) {
            return Delivered(mine) == delivered;
        })) {
        return false;
    }
    if (delivered.protocol() == QAbstractSocket::IPv4Protocol) {
        return IsPublicIpv4(delivered.toIPv4Address());
    }
    // Qt counts unique local (fc00::/7) and the old site-local (fec0::/10) addresses as global.
    return delivered.protocol() == QAbstractSocket::IPv6Protocol && delivered.isGlobal() &&
           !delivered.isUniqueLocalUnicast() && !delivered.isSiteLocal();
}

bool MayFollowReferral(const QHostAddress& referrer, const QList<QHostAddress>& targets) {
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return !IsPublicAddress(referrer, own) ||
           std::all_of(targets.begin(), targets.end(),
                       [&own](const QHostAddress& target) { return IsPublicAddress(target, own); });
}

} // namespace tarnwick

// Where a referral may lead: no server out on the Internet can send the query on into the
// user's own machine or network.
#pragma once

#include <QHostAddress>
#include <QList>

namespace tarnwick {

// Whether `address` is out on the Internet: outside every private, shared, loopback,
// link-local, multicast and reserved range, and none of `own`. An IPv6 address that carries an
// IPv4 one (mapped, compatible, NAT64, 6to4) is judged as that IPv4 address, where a gateway or
// relay on the way would deliver it. The documentation ranges count as public: they never route.
bool IsPublicAddress(const QHostAddress& address, const QList<QHostAddress>& own);

// Whether a referral from the server at `referrer` may lead to a server whose name resolved to
// `targets`: from a public server only when every target is public too, while a server on the
// user's side may refer to its neighbours. This machine's addresses are read on every call, as
// they come and go.
bool MayFollowReferral(const QHostAddress& referrer, const QList<QHostAddress>& targets);

} // namespace tarnwick

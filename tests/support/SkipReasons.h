// Why a test cannot run here, said the same way wherever it skips.
#pragma once

namespace tarnwick::testing {

inline constexpr char kNoIcmpSocket[] = "the echo program has no ICMP socket: needs CAP_NET_RAW "
                                        "(root) or a group inside net.ipv4.ping_group_range";

} // namespace tarnwick::testing

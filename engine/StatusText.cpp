// The echo status texts.
#include "engine/StatusText.h"

#include "platform/Icmp.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace tarnwick {
namespace {

using Entry = std::pair<std::int32_t, std::string_view>;

// Sorted by code so lookups can binary-search. The codes a reply may carry are named where the
// record is defined; the others have a text only.
constexpr std::array<Entry, 27> kStatusTexts{{
    {contract::ip_status::kSuccess, "ip success"},
    {200, "ping timeout"},
    {contract::ip_status::kBufTooSmall, "ip buf too_small"},
    {contract::ip_status::kDestNetUnreachable, "ip dest net unreachable"},
    {contract::ip_status::kDestHostUnreachable, "ip dest host unreachable"},
    {contract::ip_status::kDestProtocolUnreachable, "ip dest prot unreachable"},
    {contract::ip_status::kDestPortUnreachable, "ip dest port unreachable"},
    {contract::ip_status::kNoResources, "ip no resources"},
    {contract::ip_status::kBadOption, "ip bad option"},
    {contract::ip_status::kHardwareError, "ip hw_error"},
    {contract::ip_status::kPacketTooBig, "ip packet too_big"},
    {contract::ip_status::kRequestTimedOut, "ip req timed out"},
    {contract::ip_status::kBadRequest, "ip bad req"},
    {contract::ip_status::kBadRoute, "ip bad route"},
    {contract::ip_status::kTtlExpiredTransit, "ip ttl expired transit"},
    {contract::ip_status::kTtlExpiredReassembly, "ip ttl expired reassem"},
    {contract::ip_status::kParameterProblem, "ip param_problem"},
    {contract::ip_status::kSourceQuench, "ip source quench"},
    {contract::ip_status::kOptionTooBig, "ip option too_big"},
    {contract::ip_status::kBadDestination, "ip bad destination"},
    {11019, "ip addr deleted"},
    {11020, "ip spec mtu change"},
    {11021, "ip mtu_change"},
    {11022, "ip unload"},
    {11023, "ip addr added"},
    {contract::ip_status::kGeneralFailure, "ip general failure"},
    {11255, "ip pending"},
}};
static_assert(std::is_sorted(kStatusTexts.begin(), kStatusTexts.end()));

} // namespace

std::string GetStatusText(const std::int32_t& status) {
    const auto found =
        std::lower_bound(kStatusTexts.begin(), kStatusTexts.end(), status,
                         [](const Entry& entry, std::int32_t code) { return entry.first < code; });
    const std::string_view text = found != kStatusTexts.end() && found->first == status
                                      ? found->second
                                      : "unknown  msg returned";
    // One allocation, the returned text: the line is sized before it is written.
    std::string line = std::to_string(status);
    line.reserve(line.size() + 5 + text.size() + 2);
    line += "   [ ";
    line += text;
    line += " ]";
    return line;
}

} // namespace tarnwick

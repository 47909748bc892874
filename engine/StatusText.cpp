// The echo status texts.
#include "engine/StatusText.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace tarnwick {
namespace {

using Entry = std::pair<std::int32_t, std::string_view>;

// Sorted by code so lookups can binary-search.
constexpr std::array<Entry, 27> kStatusTexts{{
    {0, "ip success"},
    {200, "ping timeout"},
    {11001, "ip buf too_small"},
    {11002, "ip dest net unreachable"},
    {11003, "ip dest host unreachable"},
    {11004, "ip dest prot unreachable"},
    {11005, "ip dest port unreachable"},
    {11006, "ip no resources"},
    {11007, "ip bad option"},
    {11008, "ip hw_error"},
    {11009, "ip packet too_big"},
    {11010, "ip req timed out"},
    {11011, "ip bad req"},
    {11012, "ip bad route"},
    {11013, "ip ttl expired transit"},
    {11014, "ip ttl expired reassem"},
    {11015, "ip param_problem"},
    {11016, "ip source quench"},
    {11017, "ip option too_big"},
    {11018, "ip bad destination"},
    {11019, "ip addr deleted"},
    {11020, "ip spec mtu change"},
    {11021, "ip mtu_change"},
    {11022, "ip unload"},
    {11023, "ip addr added"},
    {11050, "ip general failure"},
    {11255, "ip pending"},
}};
static_assert(std::is_sorted(kStatusTexts.begin(), kStatusTexts.end()));

constexpr std::string_view kUnknownText = "unknown  msg returned";

std::string_view TextFor(std::int32_t status) {
    const auto found =
        std::lower_bound(kStatusTexts.begin(), kStatusTexts.end(), status,
                         [](const Entry& entry, std::int32_t code) { return entry.first < code; });
    return found != kStatusTexts.end() && found->first == status ? found->second : kUnknownText;
}

} // namespace

std::string GetStatusText(const std::int32_t& status) {
    const std::string_view text = TextFor(status);
    std::string line = std::to_string(status);
    line.reserve(line.size() + 5 + text.size() + 2);
    line += "   [ ";
    line += text;
    line += " ]";
    return line;
}

} // namespace tarnwick

// Status code to the display line "code   [ text ]".
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

std::string GetStatusText(const std::int32_t& status);

} // namespace tarnwick

// Dotted address parser.
#include "engine/AddressParser.h"

#include "engine/EngineError.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace tarnwick {
namespace {

constexpr int kPartCount = 4;

std::int32_t PartToNumber(std::string_view part) {
    // Blanks around the number, as the platform's text-to-number conversion allows them.
    std::string_view digits = part.substr(std::min(part.find_first_not_of(" \t"), part.size()));
    digits = digits.substr(0, digits.find_last_not_of(" \t") + 1);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        throw EngineError(EngineErrorKind::TypeMismatch,
                          "\"" + std::string(part) + "\" is not a number");

    // Parse the magnitude wide enough that -2147483648 is exact.
    std::int64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (error == std::errc::result_out_of_range || end != digits.data() + digits.size() ||
        value < INT32_MIN || value > INT32_MAX)
        throw EngineError(EngineErrorKind::Overflow,
                          "\"" + std::string(part) + "\" does not fit in 32 bits");
    return static_cast<std::int32_t>(value);
}

} // namespace

std::int32_t ParseAddress(std::string text) {
    std::array<std::string, kPartCount> parts;
    int count = 0;
    std::string_view rest = text;
    for (;;) {
        const auto dot = rest.find('.');
        if (++count > kPartCount)
            throw EngineError(EngineErrorKind::SubscriptOutOfRange,
                              "the address has more than four parts");
        if (dot == std::string_view::npos) {
            parts[count - 1] = rest;
            break;
        }
        parts[count - 1] = rest.substr(0, dot);
        rest.remove_prefix(dot + 1);
    }
    if (count != kPartCount)
        return 0;

    std::uint32_t value = 0;
    for (int index = kPartCount - 1; index >= 0; --index) {
        const auto low8 = static_cast<std::uint32_t>(PartToNumber(parts[index])) & 0xFFu;
        value |= low8 << (8 * index);
    }
    return static_cast<std::int32_t>(value);
}

} // namespace tarnwick

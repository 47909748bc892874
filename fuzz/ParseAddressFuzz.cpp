// Fuzzes the address parser against a reference that follows the textual recipe: split on dots,
// write each part as two hex digits (its low byte), read "&H" + the digits back, fourth first.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using tarnwick::EngineErrorKind;
using Outcome = std::pair<std::optional<std::int32_t>, std::optional<EngineErrorKind>>;

// A part as a number: blanks around it, an optional sign, digits, range-checked digit by digit.
std::optional<EngineErrorKind> ReferenceNumber(std::string part, long long& number) {
    part.erase(0, part.find_first_not_of(" \t"));
    part.erase(part.find_last_not_of(" \t") + 1);
    const bool negative = !part.empty() && part[0] == '-';
    if (!part.empty() && (part[0] == '+' || part[0] == '-'))
        part.erase(0, 1);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos)
        return EngineErrorKind::TypeMismatch;
    long long magnitude = 0;
    for (const char digit : part)
        if ((magnitude = magnitude * 10 + (digit - '0')) > 2147483648LL)
            return EngineErrorKind::Overflow;
    number = negative ? -magnitude : magnitude;
    return number > 2147483647LL ? std::optional(EngineErrorKind::Overflow) : std::nullopt;
}

Outcome Reference(const std::string& text) {
    std::vector<std::string> parts(1);
    for (const char c : text)
        c == '.' ? parts.emplace_back() : parts.back() += c;
    if (parts.size() > 4)
        return {std::nullopt, EngineErrorKind::SubscriptOutOfRange};
    if (parts.size() < 4)
        return {0, std::nullopt};
    std::string hex;
    for (int index = 3; index >= 0; --index) {
        long long number = 0;
        if (const auto error = ReferenceNumber(parts[index], number))
            return {std::nullopt, error};
        char digits[16];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(number) & 0xFF);
        hex += digits;
    }
    return {static_cast<std::int32_t>(std::stoul("0x" + hex, nullptr, 16)), std::nullopt};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Outcome actual;
    try {
        actual.first = tarnwick::ParseAddress(text);
    } catch (const tarnwick::EngineError& error) {
        actual.second = error.kind();
    }
    if (actual != Reference(text)) {
        std::fprintf(stderr, "parser and reference disagree\n");
        std::abort();
    }
    return 0;
}

// Fuzzes the address parser against a reference that follows the textual recipe:
// split on dots, write each part as two hex digits, read "&H" + digits back.
#include "engine/AddressParser.h"
#include "engine/EngineError.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using tarnwick::EngineErrorKind;

struct Outcome {
    std::optional<std::int32_t> value;
    std::optional<EngineErrorKind> error;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Decimal with optional blanks around it and an optional sign, range-checked digit by digit.
Outcome ReferenceNumber(const std::string& part, long long& number) {
    std::size_t begin = 0;
    std::size_t end = part.size();
    while (begin < end && IsBlank(part[begin]))
        ++begin;
    while (end > begin && IsBlank(part[end - 1]))
        --end;
    bool negative = false;
    if (begin < end && (part[begin] == '+' || part[begin] == '-'))
        negative = part[begin++] == '-';
    if (begin == end)
        return {{}, EngineErrorKind::TypeMismatch};
    for (std::size_t i = begin; i < end; ++i)
        if (part[i] < '0' || part[i] > '9')
            return {{}, EngineErrorKind::TypeMismatch};
    long long magnitude = 0;
    for (std::size_t i = begin; i < end; ++i) {
        magnitude = magnitude * 10 + (part[i] - '0');
        if (magnitude > 2147483648LL)
            return {{}, EngineErrorKind::Overflow};
    }
    number = negative ? -magnitude : magnitude;
    if (number > 2147483647LL)
        return {{}, EngineErrorKind::Overflow};
    return {};
}

Outcome Reference(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == '.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() > 4)
        return {{}, EngineErrorKind::SubscriptOutOfRange};
    if (parts.size() < 4)
        return {0, {}};
    std::string hex = "";
    for (int index = 3; index >= 0; --index) {
        long long number = 0;
        const Outcome failure = ReferenceNumber(parts[index], number);
        if (failure.error)
            return failure;
        char digits[32];
        std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(number));
        const std::string padded = std::string("00") + digits;
        hex += padded.substr(padded.size() - 2);
    }
    const unsigned long bits = std::strtoul(hex.c_str(), nullptr, 16);
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)), {}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Outcome expected = Reference(text);
    Outcome actual;
    try {
        actual.value = tarnwick::ParseAddress(text);
    } catch (const tarnwick::EngineError& error) {
        actual.error = error.kind();
    }
    if (actual.value != expected.value || actual.error != expected.error) {
        std::fprintf(stderr, "parser and reference disagree\n");
        std::abort();
    }
    return 0;
}

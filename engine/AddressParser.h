// Dotted IPv4 text to the 32-bit address value (first part in the least significant byte).
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// Splits on "." into exactly four parts and keeps the low 8 bits of each number.
// Fewer than four parts give 0 without looking at them. Throws EngineError:
// SubscriptOutOfRange for five or more parts, TypeMismatch for a part that is not a
// number, Overflow for a number outside the signed 32-bit range; the fourth part is
// converted first, so its error wins.
//
// A part is a number when it is an optional sign followed by one or more decimal digits,
// with optional blanks (space or tab) around the whole; nothing else is accepted.
std::int32_t ParseAddress(std::string text);

} // namespace tarnwick

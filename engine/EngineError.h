// The errors that the echo engine raises to its caller.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnwick {

enum class EngineErrorKind {
    SubscriptOutOfRange, // more than four dotted parts
    TypeMismatch,        // a part that is not a number
    Overflow,            // a number outside the signed 32-bit range
};

class EngineError : public std::runtime_error {
public:
    EngineError(EngineErrorKind kind, const std::string& what)
        : std::runtime_error(what), kind_(kind) {}
    EngineErrorKind kind() const noexcept { return kind_; }

private:
    EngineErrorKind kind_;
};

} // namespace tarnwick

// Table rows that tests and their failures name by the row's `name`, so that test names stay
// the same from build to build (gtest would print a row's bytes).
#pragma once

#include <ostream>
#include <string>

namespace tarnwick::testing {

template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

inline const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

} // namespace tarnwick::testing

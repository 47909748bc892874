// Shared helpers of the benchmark drivers: medians and the table rows that bench/run collects.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnwick::bench {

inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Maximum(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

inline std::string Value(double value, const char* format = "%.1f") {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

inline std::string Met(bool met) {
    return met ? "yes" : "NO";
}

// One table row on stdout: measure | value | floor/peer | ratio | target | met?
inline void PrintRawRow(const std::string& measure, const std::string& value,
                        const std::string& reference, const std::string& ratio,
                        const std::string& target, const std::string& met) {
    std::printf("row|%s|%s|%s|%s|%s|%s\n", measure.c_str(), value.c_str(), reference.c_str(),
                ratio.c_str(), target.c_str(), met.c_str());
    std::fflush(stdout);
}
inline void PrintRawRow(const std::string& measure, const std::string& value,
                        const std::string& reference, const std::string& ratio,
                        const std::string& target, const char* met) {
    PrintRawRow(measure, value, reference, ratio, target, std::string(met));
}
inline void PrintRawRow(const std::string& measure, const std::string& value,
                        const std::string& reference, const std::string& ratio,
                        const std::string& target, bool met) {
    PrintRawRow(measure, value, reference, ratio, target, Met(met));
}

// A row whose target is a ratio to a floor or peer measured in the same run.
inline void PrintRow(const std::string& measure, double value, const std::string& referenceName,
                     double referenceValue, const std::string& target, double limit,
                     bool strictlyBelow = false) {
    const double ratio = referenceValue > 0 ? value / referenceValue : 0;
    const bool met = referenceValue > 0 && (strictlyBelow ? ratio < limit : ratio <= limit);
    PrintRawRow(measure, Value(value), referenceName + " " + Value(referenceValue),
                Value(ratio, "%.2fx"), target, Met(met));
}

} // namespace tarnwick::bench

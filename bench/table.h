// The rows of the table that scripts/bench prints, and the figures in them.
#pragma once

#include <cstdio>
#include <string>

namespace qx480 {
namespace bench {

inline void Row(const std::string& what, const std::string& result, const std::string& goal) {
    std::printf("| %-52s | %-60s | %-26s |\n", what.c_str(), result.c_str(), goal.c_str());
}

inline std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Exchange figures: calls measured per run, and how they are spread over it.
constexpr int WARM_UP_CALLS = 200;
constexpr int CALLS_PER_BLOCK = 250;
constexpr int WAITING_CALLS = 3;
constexpr int BAUD = 115200;
constexpr int TIMING_CHANNEL = 3;

}  // namespace bench
}  // namespace qx480

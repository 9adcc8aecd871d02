// Per-call round-trip times and their median and percentiles.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace qx480 {
namespace bench {

class Latencies {
public:
    explicit Latencies(std::size_t expected) { m_us.reserve(expected); }

    void Add(std::chrono::steady_clock::duration d) {
        m_us.push_back(std::chrono::duration<double, std::micro>(d).count());
    }
    std::size_t Count() const { return m_us.size(); }

    // The value below which `fraction` of the calls lie (nearest rank); 0 with no calls.
    double PercentileUs(double fraction) {
        if (m_us.empty()) return 0.0;
        const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(m_us.size() - 1) + 0.5);
        std::nth_element(m_us.begin(), m_us.begin() + static_cast<std::ptrdiff_t>(rank), m_us.end());
        return m_us[rank];
    }
    double MedianUs() { return PercentileUs(0.5); }
    double P99Us() { return PercentileUs(0.99); }
    double MaxUs() const { return m_us.empty() ? 0.0 : *std::max_element(m_us.begin(), m_us.end()); }

private:
    std::vector<double> m_us;
};

}  // namespace bench
}  // namespace qx480

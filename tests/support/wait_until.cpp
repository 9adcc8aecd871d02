#include "wait_until.h"

#include <algorithm>
#include <thread>

namespace qx480 {
namespace test {
namespace {

constexpr std::chrono::milliseconds CHECK_INTERVAL{5};

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    while (!condition()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(CHECK_INTERVAL, deadline - now));
    }
    return true;
}

}  // namespace test
}  // namespace qx480

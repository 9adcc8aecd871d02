// Waiting for what a test is not told of, such as a thread that ends or a
// process that lets go of a port: the condition is checked again every few
// milliseconds until it holds or the deadline passes. (The simulated device
// does tell of its requests: SimulatedDevice::WaitForRequests.)
#pragma once

#include <chrono>
#include <functional>

namespace qx480 {
namespace test {

// True once `condition` holds, false when it still does not after `limit`.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace test
}  // namespace qx480

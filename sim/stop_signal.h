// Waiting for the user to stop qx480-sim (Ctrl+C, SIGTERM), one source file
// per platform.
#pragma once

#include <functional>

namespace qx480 {
namespace sim {

// Call before any thread starts, so that only WaitForStopSignal() sees the signals.
void CatchStopSignals();
// Waits until a stop signal comes (true) or `running` turns false (false).
bool WaitForStopSignal(const std::function<bool()>& running);

}  // namespace sim
}  // namespace qx480

// Waiting for the user to stop qx480-sim (Ctrl+C, SIGTERM), or on POSIX to
// move its temperature (SIGUSR1, SIGUSR2), one source file per platform.
#pragma once

#include <functional>

namespace qx480 {
namespace sim {

// Call before any thread starts, so that only WaitForStopSignal() sees the signals.
void CatchStopSignals();
// Waits until a stop signal comes (true) or `running` turns false (false).
// Meanwhile SIGUSR1 calls `temperature` with +1 and SIGUSR2 with -1 (POSIX).
bool WaitForStopSignal(const std::function<bool()>& running, const std::function<void(int)>& temperature);

}  // namespace sim
}  // namespace qx480

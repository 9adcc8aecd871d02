#include <windows.h>

#include "stop_signal.h"

namespace qx480 {
namespace sim {
namespace {

constexpr DWORD SIGNAL_POLL_MS = 200;

HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread of the system's: Ctrl+C, Ctrl+Break, closing the console.
BOOL WINAPI OnConsoleStop(DWORD) {
    SetEvent(StopEvent());
    return TRUE;
}

}  // namespace

void CatchStopSignals() {
    StopEvent();
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

// Windows has no signals for the temperature.
bool WaitForStopSignal(const std::function<bool()>& running, const std::function<void(int)>&) {
    while (running()) {
        if (WaitForSingleObject(StopEvent(), SIGNAL_POLL_MS) == WAIT_OBJECT_0) return true;
    }
    return false;
}

}  // namespace sim
}  // namespace qx480

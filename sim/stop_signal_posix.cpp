#include <signal.h>

#include <ctime>

#include "stop_signal.h"

namespace qx480 {
namespace sim {
namespace {

constexpr long SIGNAL_POLL_NS = 200 * 1000 * 1000;

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void CatchStopSignals() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool WaitForStopSignal(const std::function<bool()>& running) {
    const sigset_t signals = StopSignals();
    const timespec poll{0, SIGNAL_POLL_NS};
    while (running()) {
        if (sigtimedwait(&signals, nullptr, &poll) > 0) return true;
    }
    return false;
}

}  // namespace sim
}  // namespace qx480

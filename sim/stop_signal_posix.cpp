#include <signal.h>

#include <ctime>

#include "stop_signal.h"

namespace qx480 {
namespace sim {
namespace {

constexpr long SIGNAL_POLL_NS = 200 * 1000 * 1000;

sigset_t CaughtSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigaddset(&signals, signal);
    return signals;
}

}  // namespace

void CatchStopSignals() {
    const sigset_t signals = CaughtSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool WaitForStopSignal(const std::function<bool()>& running, const std::function<void(int)>& temperature) {
    const sigset_t signals = CaughtSignals();
    const timespec poll{0, SIGNAL_POLL_NS};
    while (running()) {
        const int signal = sigtimedwait(&signals, nullptr, &poll);
        if (signal == SIGUSR1 || signal == SIGUSR2) {
            temperature(signal == SIGUSR1 ? 1 : -1);
        } else if (signal > 0) {
            return true;
        }
    }
    return false;
}

}  // namespace sim
}  // namespace qx480

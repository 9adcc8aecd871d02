#include "commands.h"

#include <cmath>

std::uint16_t TriggerModeOpt(QX480TriggerMode mode) {
    switch (mode) {
        case QX480TriggerMode::Internal: return 1;
        case QX480TriggerMode::External: return 2;
        case QX480TriggerMode::Software: return 3;
    }
    return 1;
}

std::uint16_t ChannelOpt(int channel, bool on) {
    return static_cast<std::uint16_t>(static_cast<unsigned>(channel) * 256u + (on ? 1u : 0u));
}

bool IsWriteSuccess(const QX480Frame& frame) {
    return frame.valid && (frame.opt & 0xFF) == qx480::option::RESPONSE_OK;
}

namespace qx480 {
namespace units {

bool TimeToWire(std::int64_t ns, std::uint64_t& count) {
    if (ns < 0 || ns > MAX_TIME_NS) return false;
    count = static_cast<std::uint64_t>(ns) * static_cast<std::uint64_t>(COUNTS_PER_NS);
    return true;
}

bool FrequencyToWire(double hz, std::uint32_t& ticks) {
    if (!(hz > 0)) return false;  // also refuses NaN
    const double exact = NS_PER_SECOND / hz * (1.0 / NS_PER_TICK);
    const double truncated = std::trunc(exact);
    if (truncated > static_cast<double>(UINT32_MAX)) return false;
    ticks = static_cast<std::uint32_t>(truncated);
    return true;
}

}  // namespace units
}  // namespace qx480

// Protocol functions for a self-test runner that must fail exactly one check:
// TriggerModeOpt maps Software to 4 instead of 3. The other two encode as the
// library does.
#include "commands.h"

std::uint16_t TriggerModeOpt(QX480TriggerMode mode) {
    return mode == QX480TriggerMode::Software ? 4 : static_cast<std::uint16_t>(static_cast<int>(mode) + 1);
}

std::uint16_t ChannelOpt(int channel, bool on) {
    return static_cast<std::uint16_t>(static_cast<unsigned>(channel) * 256u + (on ? 1u : 0u));
}

bool IsWriteSuccess(const QX480Frame& frame) { return frame.valid && (frame.opt & 0xFF) == qx480::option::RESPONSE_OK; }

// The write commands: each is one exchange judged by the response's option word.
#include "qx480ddg.h"

namespace {

bool IsChannel(int channel) { return channel >= 1 && channel <= QX480DDG::CHANNEL_COUNT; }

}  // namespace

bool QX480DDG::SendWriteCommand(QX480Command cmd, std::uint16_t opt) {
    QX480Frame response;
    return SendFrame(qx480::CommandCode(cmd), opt, nullptr, 0, &response, TIMEOUT_MS) && IsWriteSuccess(response);
}

bool QX480DDG::SendWriteWords(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words) {
    QX480Frame response;
    return SendFrameU32(qx480::CommandCode(cmd), opt, words, &response, TIMEOUT_MS) && IsWriteSuccess(response);
}

// A time goes out as its 10 ps count in two words, low half first.
bool QX480DDG::SendTime(QX480Command cmd, int channel, std::int64_t ns) {
    std::uint64_t count;
    if (!IsChannel(channel) || !qx480::units::TimeToWire(ns, count)) return false;
    return SendWriteWords(cmd, static_cast<std::uint16_t>(channel),
                          {static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(count >> 32)});
}

bool QX480DDG::SetTrigger(QX480TriggerMode mode) {
    return SendWriteCommand(QX480Command::SET_TRIGGER, TriggerModeOpt(mode));
}

bool QX480DDG::SetInternalTriggerFreq(double hz) {
    std::uint32_t ticks;
    return qx480::units::FrequencyToWire(hz, ticks) &&
           SendWriteWords(QX480Command::SET_TRIG_FREQ, qx480::option::NONE, {ticks});
}

bool QX480DDG::SetOutputChannel(int channel, bool on) {
    if (!IsChannel(channel)) return false;
    return SendWriteCommand(QX480Command::SET_CHANNEL, ChannelOpt(channel, on));
}

bool QX480DDG::SetGlobalOutput(bool enable) {
    return SendWriteCommand(QX480Command::SET_GLOBAL_OUTPUT,
                            enable ? qx480::option::OUTPUT_ENABLE : qx480::option::OUTPUT_DISABLE);
}

bool QX480DDG::SetDelay(int channel, std::int64_t ns) { return SendTime(QX480Command::SET_DELAY, channel, ns); }

bool QX480DDG::SetPulseWidth(int channel, std::int64_t ns) {
    return SendTime(QX480Command::SET_PULSE_WIDTH, channel, ns);
}

bool QX480DDG::SoftwareTrigger() { return SendWriteCommand(QX480Command::SOFTWARE_TRIG, qx480::option::NONE); }

// The bool-only form of each call: the outcome form with the outcome left behind.
#include "qx480ddg.h"

namespace {

template <class Call>
bool Succeeded(Call call) {
    QX480Outcome outcome;
    return call(outcome);
}

}  // namespace

bool QX480DDG::SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                         int timeoutMs) {
    return Succeeded([&](QX480Outcome& o) { return SendFrame(cmd, opt, pa, paLen, out, timeoutMs, o); });
}

bool QX480DDG::SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                            QX480Frame* out, int timeoutMs) {
    return Succeeded([&](QX480Outcome& o) { return SendFrameU32(cmd, opt, words, out, timeoutMs, o); });
}

bool QX480DDG::SetTrigger(QX480TriggerMode mode) {
    return Succeeded([&](QX480Outcome& o) { return SetTrigger(mode, o); });
}

bool QX480DDG::SetInternalTriggerFreq(double hz) {
    return Succeeded([&](QX480Outcome& o) { return SetInternalTriggerFreq(hz, o); });
}

bool QX480DDG::SetTriggerPeriod(std::uint32_t ticks) {
    return Succeeded([&](QX480Outcome& o) { return SetTriggerPeriod(ticks, o); });
}

bool QX480DDG::SetOutputChannel(int channel, bool on) {
    return Succeeded([&](QX480Outcome& o) { return SetOutputChannel(channel, on, o); });
}

bool QX480DDG::SetGlobalOutput(bool enable) {
    return Succeeded([&](QX480Outcome& o) { return SetGlobalOutput(enable, o); });
}

bool QX480DDG::SetDelay(int channel, std::int64_t ns) {
    return Succeeded([&](QX480Outcome& o) { return SetDelay(channel, ns, o); });
}

bool QX480DDG::SetPulseWidth(int channel, std::int64_t ns) {
    return Succeeded([&](QX480Outcome& o) { return SetPulseWidth(channel, ns, o); });
}

bool QX480DDG::SetDelayCounts(int channel, std::uint64_t counts) {
    return Succeeded([&](QX480Outcome& o) { return SetDelayCounts(channel, counts, o); });
}

bool QX480DDG::SetPulseWidthCounts(int channel, std::uint64_t counts) {
    return Succeeded([&](QX480Outcome& o) { return SetPulseWidthCounts(channel, counts, o); });
}

bool QX480DDG::SoftwareTrigger() {
    return Succeeded([&](QX480Outcome& o) { return SoftwareTrigger(o); });
}

bool QX480DDG::ReadTemperature(float* celsius) {
    return Succeeded([&](QX480Outcome& o) { return ReadTemperature(celsius, o); });
}

bool QX480DDG::ReadTimingConfig(int channel, QX480TimingConfig* config) {
    return Succeeded([&](QX480Outcome& o) { return ReadTimingConfig(channel, config, o); });
}

bool QX480DDG::ReadTimingBlock(qx480::timing::Block* block) {
    return Succeeded([&](QX480Outcome& o) { return ReadTimingBlock(block, o); });
}

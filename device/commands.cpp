// The write commands: each is one exchange judged by the response's option word.
#include "outcome_detail.h"
#include "qx480ddg.h"

using qx480::detail::Conclude;
using qx480::detail::RefuseArgument;

namespace {

// A 64-bit count as the two words of a time request, low half first.
std::vector<std::uint32_t> CountWords(std::uint64_t counts) {
    return {static_cast<std::uint32_t>(counts), static_cast<std::uint32_t>(counts >> 32)};
}

}  // namespace

bool QX480DDG::SendWrite(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                         QX480Outcome& outcome) {
    QX480Frame response;
    const std::uint8_t code = qx480::CommandCode(cmd);
    const bool answered = words.empty() ? SendFrame(code, opt, nullptr, 0, &response, TIMEOUT_MS, outcome)
                                        : SendFrameU32(code, opt, words, &response, TIMEOUT_MS, outcome);
    return answered && Conclude(outcome, IsWriteSuccess(response) ? QX480Status::Accepted : QX480Status::Refused);
}

bool QX480DDG::SendCounts(QX480Command cmd, int channel, std::uint64_t counts, QX480Outcome& outcome) {
    if (!qx480::IsChannel(channel)) return RefuseArgument(outcome, cmd);
    return SendWrite(cmd, static_cast<std::uint16_t>(channel), CountWords(counts), outcome);
}

bool QX480DDG::SendTime(QX480Command cmd, int channel, std::int64_t ns, QX480Outcome& outcome) {
    std::uint64_t counts;
    if (!qx480::units::TimeToWire(ns, counts)) return RefuseArgument(outcome, cmd);
    return SendCounts(cmd, channel, counts, outcome);
}

bool QX480DDG::SetTrigger(QX480TriggerMode mode, QX480Outcome& outcome) {
    return SendWrite(QX480Command::SET_TRIGGER, TriggerModeOpt(mode), {}, outcome);
}

bool QX480DDG::SetInternalTriggerFreq(double hz, QX480Outcome& outcome) {
    std::uint32_t ticks;
    if (!qx480::units::FrequencyToWire(hz, ticks)) return RefuseArgument(outcome, QX480Command::SET_TRIG_FREQ);
    return SendWrite(QX480Command::SET_TRIG_FREQ, qx480::option::NONE, {ticks}, outcome);
}

bool QX480DDG::SetTriggerPeriod(std::uint32_t ticks, QX480Outcome& outcome) {
    if (ticks == 0) return RefuseArgument(outcome, QX480Command::SET_TRIG_FREQ);
    return SendWrite(QX480Command::SET_TRIG_FREQ, qx480::option::NONE, {ticks}, outcome);
}

bool QX480DDG::SetOutputChannel(int channel, bool on, QX480Outcome& outcome) {
    if (!qx480::IsChannel(channel)) return RefuseArgument(outcome, QX480Command::SET_CHANNEL);
    return SendWrite(QX480Command::SET_CHANNEL, ChannelOpt(channel, on), {}, outcome);
}

bool QX480DDG::SetGlobalOutput(bool enable, QX480Outcome& outcome) {
    return SendWrite(QX480Command::SET_GLOBAL_OUTPUT,
                     enable ? qx480::option::OUTPUT_ENABLE : qx480::option::OUTPUT_DISABLE, {}, outcome);
}

bool QX480DDG::SetDelay(int channel, std::int64_t ns, QX480Outcome& outcome) {
    return SendTime(QX480Command::SET_DELAY, channel, ns, outcome);
}

bool QX480DDG::SetPulseWidth(int channel, std::int64_t ns, QX480Outcome& outcome) {
    return SendTime(QX480Command::SET_PULSE_WIDTH, channel, ns, outcome);
}

bool QX480DDG::SetDelayCounts(int channel, std::uint64_t counts, QX480Outcome& outcome) {
    return SendCounts(QX480Command::SET_DELAY, channel, counts, outcome);
}

bool QX480DDG::SetPulseWidthCounts(int channel, std::uint64_t counts, QX480Outcome& outcome) {
    return SendCounts(QX480Command::SET_PULSE_WIDTH, channel, counts, outcome);
}

bool QX480DDG::SoftwareTrigger(QX480Outcome& outcome) {
    return SendWrite(QX480Command::SOFTWARE_TRIG, qx480::option::NONE, {}, outcome);
}

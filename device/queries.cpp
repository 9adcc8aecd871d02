// The two queries: the temperature and the timing block.
#include "outcome_detail.h"
#include "qx480ddg.h"

using qx480::detail::Conclude;
using qx480::detail::RefuseArgument;

namespace {

// A query's request carries option 0 and no parameters, and no device answers
// one that way: such an answer is the request itself, coming back.
bool IsOwnRequest(const QX480Frame& response) { return response.opt == qx480::option::NONE && response.pa.empty(); }

}  // namespace

// True when a valid answer with at least `minimumPa` parameter bytes came
// back; its option word is not looked at.
bool QX480DDG::Query(QX480Command cmd, std::size_t minimumPa, QX480Frame& response, QX480Outcome& outcome) {
    if (!SendFrame(qx480::CommandCode(cmd), qx480::option::NONE, nullptr, 0, &response, TIMEOUT_MS, outcome)) {
        return false;
    }
    if (response.pa.size() >= minimumPa) return true;
    return Conclude(outcome, IsOwnRequest(response) ? QX480Status::Echo : QX480Status::ShortAnswer);
}

bool QX480DDG::ReadTemperature(float* celsius, QX480Outcome& outcome) {
    if (celsius == nullptr) return RefuseArgument(outcome, QX480Command::READ_TEMP);
    QX480Frame response;
    if (!Query(QX480Command::READ_TEMP, qx480::TEMPERATURE_SIZE, response, outcome)) return false;
    *celsius = response.ReadFloat(0);
    return true;
}

bool QX480DDG::ReadTimingBlock(qx480::timing::Block* block, QX480Outcome& outcome) {
    if (block == nullptr) return RefuseArgument(outcome, QX480Command::READ_TIMING);
    QX480Frame response;
    return Query(QX480Command::READ_TIMING, qx480::timing::BLOCK_SIZE, response, outcome) &&
           qx480::timing::Decode(response, *block);
}

bool QX480DDG::ReadTimingConfig(int channel, QX480TimingConfig* config, QX480Outcome& outcome) {
    if (config == nullptr || !qx480::IsChannel(channel)) {
        return RefuseArgument(outcome, QX480Command::READ_TIMING);
    }
    qx480::timing::Block block;
    if (!ReadTimingBlock(&block, outcome)) return false;
    using qx480::units::WireToTime;
    const qx480::timing::ChannelCounts& counts = block.channels[qx480::ChannelIndex(channel)];
    QX480TimingConfig c;
    c.channel = channel;
    c.delayNs = WireToTime(counts.delay);
    c.widthNs = WireToTime(counts.width);
    c.byte131 = block.byte131;
    c.triggerFreqHz = qx480::units::WireToFrequency(block.triggerTicks);
    c.byte130 = block.byte130;
    c.word128 = block.word128;
    c.word138 = block.word138;
    c.byte136 = block.byte136;
    c.byte137 = block.byte137;
    c.time140Ns = WireToTime(counts.time140);
    c.time204Ns = WireToTime(counts.time204);
    c.float276 = block.float276;
    *config = c;
    return true;
}

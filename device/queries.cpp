// The two queries: the temperature and the timing block.
#include "qx480ddg.h"

namespace {

// True when a valid response frame came back; what it carries is the caller's to judge.
bool Query(QX480DDG& device, QX480Command cmd, QX480Frame& response) {
    return device.SendFrame(qx480::CommandCode(cmd), qx480::option::NONE, nullptr, 0, &response, QX480DDG::TIMEOUT_MS);
}

}  // namespace

bool QX480DDG::ReadTemperature(float* celsius) {
    if (celsius == nullptr) return false;
    QX480Frame response;
    if (!Query(*this, QX480Command::READ_TEMP, response) || response.pa.size() < qx480::TEMPERATURE_SIZE) {
        return false;
    }
    *celsius = response.ReadFloat(0);
    return true;
}

bool QX480DDG::ReadTimingConfig(int channel, QX480TimingConfig* config) {
    if (config == nullptr || channel < 1 || channel > CHANNEL_COUNT) return false;
    QX480Frame response;
    qx480::timing::Block block;
    if (!Query(*this, QX480Command::READ_TIMING, response) || !qx480::timing::Decode(response, block)) return false;
    using qx480::units::WireToTime;
    const qx480::timing::ChannelCounts& counts = block.channels[static_cast<std::size_t>(channel - 1)];
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

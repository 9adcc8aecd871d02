// The two queries: the temperature and the timing block.
#include "qx480ddg.h"

namespace {

bool Query(QX480DDG& device, QX480Command cmd, QX480Frame& response, std::size_t minimumPa) {
    return device.SendFrame(qx480::CommandCode(cmd), qx480::option::NONE, nullptr, 0, &response,
                            QX480DDG::TIMEOUT_MS) &&
           response.valid && response.pa.size() >= minimumPa;
}

}  // namespace

bool QX480DDG::ReadTemperature(float* celsius) {
    if (celsius == nullptr) return false;
    QX480Frame response;
    if (!Query(*this, QX480Command::READ_TEMP, response, qx480::TEMPERATURE_SIZE)) return false;
    *celsius = response.ReadFloat(0);
    return true;
}

bool QX480DDG::ReadTimingConfig(int channel, QX480TimingConfig* config) {
    if (config == nullptr || channel < 1 || channel > CHANNEL_COUNT) return false;
    QX480Frame r;
    if (!Query(*this, QX480Command::READ_TIMING, r, qx480::timing::BLOCK_SIZE)) return false;

    namespace t = qx480::timing;
    using qx480::units::WireToTime;
    const auto entry = [&](int array) { return WireToTime(r.ReadU64(t::ChannelEntry(array, channel))); };
    const auto byteAt = [&](int offset) { return static_cast<std::uint32_t>(r.pa[static_cast<std::size_t>(offset)]); };
    const auto wordAt = [&](int offset) { return static_cast<std::uint32_t>(qx480::GetU16(&r.pa[static_cast<std::size_t>(offset)])); };

    QX480TimingConfig c;
    c.channel = channel;
    c.delayNs = entry(t::DELAY);
    c.widthNs = entry(t::WIDTH);
    c.byte131 = byteAt(t::BYTE131);
    c.triggerFreqHz = qx480::units::WireToFrequency(r.ReadU32(t::TRIGGER_TICKS));
    c.byte130 = byteAt(t::BYTE130);
    c.word128 = wordAt(t::WORD128);
    c.word138 = wordAt(t::WORD138);
    c.byte136 = byteAt(t::BYTE136);
    c.byte137 = byteAt(t::BYTE137);
    c.time140Ns = entry(t::TIME140);
    c.time204Ns = entry(t::TIME204);
    c.float276 = r.ReadFloat(t::FLOAT276);
    *config = c;
    return true;
}

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

bool IsWriteSuccess(const QX480Frame& frame) { return frame.valid && (frame.opt & 0xFF) == qx480::option::RESPONSE_OK; }

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

namespace timing {

bool Decode(const QX480Frame& r, Block& block) {
    if (!r.valid || r.pa.size() < static_cast<std::size_t>(BLOCK_SIZE)) return false;
    Block b;
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        ChannelCounts& c = b.channels[static_cast<std::size_t>(ch - 1)];
        c.delay = r.ReadU64(ChannelEntry(DELAY, ch));
        c.width = r.ReadU64(ChannelEntry(WIDTH, ch));
        c.time140 = r.ReadU64(ChannelEntry(TIME140, ch));
        c.time204 = r.ReadU64(ChannelEntry(TIME204, ch));
    }
    const auto at = [&r](int offset) { return r.pa.data() + offset; };
    b.triggerTicks = r.ReadU32(TRIGGER_TICKS);
    b.word128 = GetU16(at(WORD128));
    b.byte130 = *at(BYTE130);
    b.byte131 = *at(BYTE131);
    b.byte136 = *at(BYTE136);
    b.byte137 = *at(BYTE137);
    b.word138 = GetU16(at(WORD138));
    b.float276 = r.ReadFloat(FLOAT276);
    block = b;
    return true;
}

std::vector<std::uint8_t> Encode(const Block& block) {
    std::vector<std::uint8_t> bytes(BLOCK_SIZE, 0);
    std::uint8_t* p = bytes.data();
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        const ChannelCounts& c = block.channels[static_cast<std::size_t>(ch - 1)];
        PutU64(p + ChannelEntry(DELAY, ch), c.delay);
        PutU64(p + ChannelEntry(WIDTH, ch), c.width);
        PutU64(p + ChannelEntry(TIME140, ch), c.time140);
        PutU64(p + ChannelEntry(TIME204, ch), c.time204);
    }
    PutU16(p + WORD128, block.word128);
    p[BYTE130] = block.byte130;
    p[BYTE131] = block.byte131;
    PutU32(p + TRIGGER_TICKS, block.triggerTicks);
    p[BYTE136] = block.byte136;
    p[BYTE137] = block.byte137;
    PutU16(p + WORD138, block.word138);
    PutF32(p + FLOAT276, block.float276);
    return bytes;
}

}  // namespace timing
}  // namespace qx480

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

namespace {

// The first of TRIGGER_MODES that `matches`, or null.
template <class Match>
const NamedTriggerMode* FindTriggerMode(Match matches) {
    for (const NamedTriggerMode& m : TRIGGER_MODES) {
        if (matches(m)) return &m;
    }
    return nullptr;
}

// Copies the mode found into `mode`; false when none was found.
bool TakeMode(const NamedTriggerMode* found, QX480TriggerMode& mode) {
    if (found == nullptr) return false;
    mode = found->mode;
    return true;
}

}  // namespace

const char* TriggerModeName(QX480TriggerMode mode) {
    const NamedTriggerMode* found = FindTriggerMode([mode](const NamedTriggerMode& m) { return m.mode == mode; });
    return found != nullptr ? found->name : TriggerModeName(QX480TriggerMode::Internal);
}

bool TriggerModeByName(const std::string& name, QX480TriggerMode& mode) {
    return TakeMode(FindTriggerMode([&name](const NamedTriggerMode& m) { return name == m.name; }), mode);
}

bool TriggerModeFromOpt(std::uint16_t opt, QX480TriggerMode& mode) {
    return TakeMode(FindTriggerMode([opt](const NamedTriggerMode& m) { return TriggerModeOpt(m.mode) == opt; }), mode);
}

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
namespace {

// A field's value at `offset` of the response's PA, as its type is laid out on the wire.
void Load(const QX480Frame& r, int offset, std::uint8_t& value) { value = r.pa[static_cast<std::size_t>(offset)]; }
void Load(const QX480Frame& r, int offset, std::uint16_t& value) {
    value = GetU16(&r.pa[static_cast<std::size_t>(offset)]);
}
void Load(const QX480Frame& r, int offset, std::uint32_t& value) { value = r.ReadU32(offset); }
void Load(const QX480Frame& r, int offset, std::uint64_t& value) { value = r.ReadU64(offset); }
void Load(const QX480Frame& r, int offset, float& value) { value = r.ReadFloat(offset); }

// Writes a field's value at `p` as its type is laid out on the wire.
void Store(std::uint8_t* p, std::uint8_t value) { *p = value; }
void Store(std::uint8_t* p, std::uint16_t value) { PutU16(p, value); }
void Store(std::uint8_t* p, std::uint32_t value) { PutU32(p, value); }
void Store(std::uint8_t* p, std::uint64_t value) { PutU64(p, value); }
void Store(std::uint8_t* p, float value) { PutF32(p, value); }

}  // namespace

bool Decode(const QX480Frame& r, Block& block) {
    if (!r.valid || r.pa.size() < static_cast<std::size_t>(BLOCK_SIZE)) return false;
    Block b;
    for (const DeviceField& field : DEVICE_FIELDS) {
        std::visit([&](auto member) { Load(r, field.offset, b.*member); }, field.member);
    }
    for (const ChannelField& field : CHANNEL_FIELDS) {
        for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
            Load(r, ChannelEntry(field.offset, ch), b.channels[ChannelIndex(ch)].*field.member);
        }
    }
    block = b;
    return true;
}

std::vector<std::uint8_t> Encode(const Block& block) {
    std::vector<std::uint8_t> bytes(BLOCK_SIZE, 0);
    std::uint8_t* p = bytes.data();
    for (const DeviceField& field : DEVICE_FIELDS) {
        std::visit([&](auto member) { Store(p + field.offset, block.*member); }, field.member);
    }
    for (const ChannelField& field : CHANNEL_FIELDS) {
        for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
            Store(p + ChannelEntry(field.offset, ch), block.channels[ChannelIndex(ch)].*field.member);
        }
    }
    return bytes;
}

}  // namespace timing
}  // namespace qx480

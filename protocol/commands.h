/// \file
/// The device's command set: command codes, option words, units on the wire,
/// the success rule of a response and the layout of the timing block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "frame.h"
#include "qx480_export.h"

/// One-byte command codes. The device answers every request with one frame.
enum class QX480Command : std::uint8_t {
    SET_TRIGGER = 0x01,        ///< opt: TriggerModeOpt; no PA
    SET_TRIG_FREQ = 0x05,      ///< opt 0; PA: u32 period in 4 ns ticks
    SET_CHANNEL = 0x06,        ///< opt: ChannelOpt; no PA
    SET_GLOBAL_OUTPUT = 0x07,  ///< opt 1 enables, 0 disables; no PA
    SET_DELAY = 0x08,          ///< opt: channel 1..8; PA: u64 delay in 10 ps counts
    SET_PULSE_WIDTH = 0x09,    ///< opt: channel 1..8; PA: u64 width in 10 ps counts
    SOFTWARE_TRIG = 0x14,      ///< opt 0; no PA
    READ_TEMP = 0x93,          ///< opt 0; response PA: f32 degrees Celsius
    READ_TIMING = 0xC1,        ///< opt 0; response PA: the 348-byte timing block
};

/// What starts a pulse sequence: the internal rate generator, the external input or SoftwareTrigger.
enum class QX480TriggerMode : int { Internal = 0, External = 1, Software = 2 };

/// Option word of SET_TRIGGER: the mode's value plus one; any other value gives 1.
QX480_EXPORT std::uint16_t TriggerModeOpt(QX480TriggerMode mode);

/// Option word of SET_CHANNEL: channel * 256 + (on ? 1 : 0), cut to 16 bits.
/// No range test. On the wire the on/off byte travels before the channel byte.
QX480_EXPORT std::uint16_t ChannelOpt(int channel, bool on);

/// A write command succeeded when the response is valid and the low byte of its
/// option word is 1. The high byte and the command code are not looked at.
QX480_EXPORT bool IsWriteSuccess(const QX480Frame& frame);

namespace qx480 {

/// Channels are numbered 1 to CHANNEL_COUNT, on the wire as at the interface.
constexpr int CHANNEL_COUNT = 8;

/// True for a channel number the device has: 1 to CHANNEL_COUNT.
constexpr bool IsChannel(int channel) { return channel >= 1 && channel <= CHANNEL_COUNT; }

/// Where channel `channel` (IsChannel) sits in a per-channel array: channel n at n - 1.
constexpr std::size_t ChannelIndex(int channel) { return static_cast<std::size_t>(channel - 1); }

/// A trigger mode and the word people call it by.
struct NamedTriggerMode {
    QX480TriggerMode mode;  ///< the mode
    const char* name;       ///< its word: "internal", "external", "software"
};

/// Every trigger mode, in the enumeration's order.
constexpr NamedTriggerMode TRIGGER_MODES[] = {
    {QX480TriggerMode::Internal, "internal"},
    {QX480TriggerMode::External, "external"},
    {QX480TriggerMode::Software, "software"},
};

/// The name of `mode`; "internal" for a value outside the enumeration, which
/// TriggerModeOpt sends as internal.
QX480_EXPORT const char* TriggerModeName(QX480TriggerMode mode);

/// The mode called `name` (exactly, lower case). False, `mode` untouched, for
/// any other word.
QX480_EXPORT bool TriggerModeByName(const std::string& name, QX480TriggerMode& mode);

/// The mode whose SET_TRIGGER option word is `opt`. False, `mode` untouched,
/// for a word that TriggerModeOpt gives for no mode.
QX480_EXPORT bool TriggerModeFromOpt(std::uint16_t opt, QX480TriggerMode& mode);

/// The byte that stands for `c` on the wire.
constexpr std::uint8_t CommandCode(QX480Command c) { return static_cast<std::uint8_t>(c); }

/// Option words on the wire.
namespace option {
constexpr std::uint16_t NONE = 0;             ///< a request that takes no option
constexpr std::uint16_t OUTPUT_ENABLE = 1;    ///< SET_GLOBAL_OUTPUT: on
constexpr std::uint16_t OUTPUT_DISABLE = 0;   ///< SET_GLOBAL_OUTPUT: off
constexpr std::uint8_t RESPONSE_OK = 1;       ///< low byte of an answer's option word: accepted
constexpr std::uint8_t RESPONSE_REFUSED = 2;  ///< low byte of an answer's option word: refused
constexpr std::uint16_t TEMP_RESPONSE = 1;    ///< the option word of a READ_TEMP answer
constexpr std::uint16_t TIMING_RESPONSE = 0;  ///< the option word of a READ_TIMING answer
}  // namespace option

/// Units on the wire: times are unsigned 64-bit counts of 10 ps, the internal
/// trigger rate is a period in 4 ns ticks, the temperature an IEEE-754 single.
namespace units {

constexpr std::int64_t COUNTS_PER_NS = 100;  ///< 10 ps counts in one nanosecond
constexpr double NS_PER_TICK = 4.0;          ///< nanoseconds in one trigger-period tick
constexpr double NS_PER_SECOND = 1e9;        ///< nanoseconds in one second
/// The largest time whose 10 ps count fits the 64-bit wire field: (2^64 - 1) / 100.
constexpr std::int64_t MAX_TIME_NS = static_cast<std::int64_t>(UINT64_MAX / COUNTS_PER_NS);
constexpr std::int64_t PS_PER_COUNT = 10;  ///< picoseconds in one count

/// 10 ps count of a time in ns; false for a negative time or one above MAX_TIME_NS.
QX480_EXPORT bool TimeToWire(std::int64_t ns, std::uint64_t& count);
/// Tick count of a rate in Hz: truncate(1e9 / hz * 0.25). False for NaN, rates
/// of 0 or below, and rates whose count exceeds 32 bits. Rates above 250 MHz,
/// +infinity included, give 0 ticks.
QX480_EXPORT bool FrequencyToWire(double hz, std::uint32_t& ticks);
/// Nanoseconds of a 10 ps count; the remainder is dropped.
constexpr std::int64_t WireToTime(std::uint64_t count) {
    return static_cast<std::int64_t>(count / static_cast<std::uint64_t>(COUNTS_PER_NS));
}
/// 0.0 for 0 ticks, else 1e9 / (ticks * 4).
constexpr double WireToFrequency(std::uint32_t ticks) {
    return ticks == 0 ? 0.0 : NS_PER_SECOND / (static_cast<double>(ticks) * NS_PER_TICK);
}

}  // namespace units

/// The timing block that READ_TIMING returns: all eight channels at once.
/// Per-channel arrays hold eight u64 entries, channel n at offset + 8 * (n - 1).
namespace timing {

constexpr int BLOCK_SIZE = 348;     ///< bytes in the block
constexpr int ENTRY_SIZE = 8;       ///< bytes of one channel's entry in a per-channel array
constexpr int DELAY = 0;            ///< 8 x u64, 10 ps counts
constexpr int WIDTH = 64;           ///< 8 x u64, 10 ps counts
constexpr int WORD128 = 128;        ///< u16
constexpr int BYTE130 = 130;        ///< u8
constexpr int BYTE131 = 131;        ///< u8
constexpr int TRIGGER_TICKS = 132;  ///< u32, 4 ns ticks
constexpr int BYTE136 = 136;        ///< u8
constexpr int BYTE137 = 137;        ///< u8
constexpr int WORD138 = 138;        ///< u16
constexpr int TIME140 = 140;        ///< 8 x u64, 10 ps counts
constexpr int TIME204 = 204;        ///< 8 x u64, 10 ps counts
constexpr int FLOAT276 = 276;       ///< f32

/// The offset of channel `channel`'s entry in the per-channel array at `array`.
constexpr int ChannelEntry(int array, int channel) { return array + ENTRY_SIZE * (channel - 1); }

/// One channel's times, in 10 ps counts as on the wire.
struct ChannelCounts {
    std::uint64_t delay = 0;    ///< the delay
    std::uint64_t width = 0;    ///< the pulse width
    std::uint64_t time140 = 0;  ///< the channel's entry at 140
    std::uint64_t time204 = 0;  ///< the channel's entry at 204
};

/// The whole block, undivided: channel n is channels[n - 1].
struct Block {
    std::array<ChannelCounts, CHANNEL_COUNT> channels{};  ///< channel n at n - 1
    std::uint32_t triggerTicks = 0;                       ///< the internal trigger period, 4 ns ticks
    std::uint16_t word128 = 0;                            ///< device word at 128
    std::uint8_t byte130 = 0;                             ///< device byte at 130
    std::uint8_t byte131 = 0;                             ///< device byte at 131
    std::uint8_t byte136 = 0;                             ///< device byte at 136
    std::uint8_t byte137 = 0;                             ///< device byte at 137
    std::uint16_t word138 = 0;                            ///< device word at 138
    float float276 = 0.0f;                                ///< device value at 276, as sent
};

/// Where a device-wide field lives in Block; the member's type gives the
/// field's type and size on the wire: u8, u16, u32 or f32.
using DeviceMember =
    std::variant<std::uint8_t Block::*, std::uint16_t Block::*, std::uint32_t Block::*, float Block::*>;

/// A device-wide field: one value at `offset`.
struct DeviceField {
    const char* name;     ///< as the reports and the simulated device's flags call it
    int offset;           ///< in the block
    DeviceMember member;  ///< where Block holds it
    bool setByCommand;    ///< a write command sets it; otherwise only the device does
};

/// A per-channel field: one u64 of 10 ps counts per channel, channel n's at
/// ChannelEntry(offset, n).
struct ChannelField {
    const char* name;                      ///< as the reports and the simulated device's flags call it
    int offset;                            ///< of channel 1's entry
    std::uint64_t ChannelCounts::*member;  ///< where each channel's ChannelCounts holds it
    bool setByCommand;                     ///< a write command sets it; otherwise only the device does
};

/// Every device-wide field the block interprets, in offset order.
inline constexpr DeviceField DEVICE_FIELDS[] = {
    {"word128", WORD128, &Block::word128, false}, {"byte130", BYTE130, &Block::byte130, false},
    {"byte131", BYTE131, &Block::byte131, false}, {"triggerTicks", TRIGGER_TICKS, &Block::triggerTicks, true},
    {"byte136", BYTE136, &Block::byte136, false}, {"byte137", BYTE137, &Block::byte137, false},
    {"word138", WORD138, &Block::word138, false}, {"float276", FLOAT276, &Block::float276, false},
};

/// Every per-channel field of the block, in offset order.
inline constexpr ChannelField CHANNEL_FIELDS[] = {
    {"delay", DELAY, &ChannelCounts::delay, true},
    {"width", WIDTH, &ChannelCounts::width, true},
    {"time140", TIME140, &ChannelCounts::time140, false},
    {"time204", TIME204, &ChannelCounts::time204, false},
};

/// True when `fields` names the fields of `table` (DEVICE_FIELDS or
/// CHANNEL_FIELDS) in the same order: for the tables that say where each field
/// goes in another structure, filled in a loop over both.
template <class Field, std::size_t N, class TableField, std::size_t M>
constexpr bool SameNames(const Field (&fields)[N], const TableField (&table)[M]) {
    if (N != M) return false;
    for (std::size_t i = 0; i < N; ++i) {
        const char* a = fields[i].name;
        const char* b = table[i].name;
        for (; *a != '\0' && *a == *b; ++a, ++b) {
        }
        if (*a != *b) return false;
    }
    return true;
}

/// Decodes the block at the start of a READ_TIMING response; bytes beyond it
/// are ignored. False (block untouched) unless the response is valid and its
/// PA holds at least BLOCK_SIZE bytes.
QX480_EXPORT bool Decode(const QX480Frame& response, Block& block);

/// The BLOCK_SIZE bytes of `block` as a device sends them; the ranges the
/// block does not interpret are zero.
QX480_EXPORT std::vector<std::uint8_t> Encode(const Block& block);

}  // namespace timing

/// Bytes of a READ_TEMP answer's PA: one f32.
constexpr int TEMPERATURE_SIZE = 4;

}  // namespace qx480

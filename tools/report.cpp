#include "report.h"

#include <cmath>
#include <cstdio>

#include "commands.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// JSON has no NaN or infinity: a device value that is one becomes null.
template <class T>
std::string JsonNumber(T value) {
    return std::isfinite(value) ? FormatNumber(value) : "null";
}

std::string TriggerText(std::uint32_t ticks) {
    const std::string period = "period " + std::to_string(ticks) + " x 4 ns";
    if (ticks == 0) return "none (" + period + ")";
    return FormatRate(units::WireToFrequency(ticks)) + " (" + period + ")";
}

std::string DeviceWordsText(const TimingBlock& b) {
    return "word128 " + std::to_string(b.word128) + "  byte130 " + std::to_string(b.byte130) + "  byte131 " +
           std::to_string(b.byte131) + "  byte136 " + std::to_string(b.byte136) + "  byte137 " +
           std::to_string(b.byte137) + "  word138 " + std::to_string(b.word138) + "  float276 " +
           FormatNumber(b.float276);
}

// Left-aligned cells at least two spaces apart, even when one overflows its column.
std::string Cell(const std::string& text, std::size_t width) {
    return text + std::string(text.size() + 2 > width ? 2 : width - text.size(), ' ');
}

void PrintChannelTable(std::ostream& out, const TimingBlock& b) {
    const std::size_t first = 9;
    const std::size_t column = 18;
    out << Cell("channel", first) << Cell("delay", column) << Cell("width", column) << Cell("time140", column)
        << "time204\n";
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        const timing::ChannelCounts& c = b.channels[static_cast<std::size_t>(ch - 1)];
        out << Cell(std::to_string(ch), first) << Cell(FormatTime(c.delay), column) << Cell(FormatTime(c.width), column)
            << Cell(FormatTime(c.time140), column) << FormatTime(c.time204) << "\n";
    }
}

std::string ChannelJson(int channel, const timing::ChannelCounts& c) {
    return "{\"channel\":" + std::to_string(channel) + ",\"delay_ns\":" + FormatNanoseconds(c.delay) +
           ",\"width_ns\":" + FormatNanoseconds(c.width) + ",\"time140_ns\":" + FormatNanoseconds(c.time140) +
           ",\"time204_ns\":" + FormatNanoseconds(c.time204) + "}";
}

}  // namespace

void PrintStatus(std::ostream& out, const std::string& port, float celsius, const TimingBlock& b) {
    out << "port          " << port << "\n"
        << "temperature   " << FormatNumber(celsius) << " C\n"
        << "trigger rate  " << TriggerText(b.triggerTicks) << "\n"
        << "device        " << DeviceWordsText(b) << "\n";
    PrintChannelTable(out, b);
}

void PrintStatusJson(std::ostream& out, const std::string& port, float celsius, const TimingBlock& b) {
    const double hz = units::WireToFrequency(b.triggerTicks);
    out << "{\"port\":" << JsonString(port) << ",\"temperature_c\":" << JsonNumber(celsius)
        << ",\"trigger_ticks\":" << b.triggerTicks << ",\"trigger_hz\":" << JsonNumber(hz)
        << ",\"word128\":" << b.word128 << ",\"byte130\":" << unsigned{b.byte130}
        << ",\"byte131\":" << unsigned{b.byte131} << ",\"byte136\":" << unsigned{b.byte136}
        << ",\"byte137\":" << unsigned{b.byte137} << ",\"word138\":" << b.word138
        << ",\"float276\":" << JsonNumber(b.float276) << ",\"channels\":[";
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        out << (ch > 1 ? "," : "") << ChannelJson(ch, b.channels[static_cast<std::size_t>(ch - 1)]);
    }
    out << "]}\n";
}

void PrintTemperature(std::ostream& out, float celsius) { out << "temperature " << FormatNumber(celsius) << " C\n"; }

void PrintTemperatureJson(std::ostream& out, const std::string& port, float celsius) {
    out << "{\"port\":" << JsonString(port) << ",\"temperature_c\":" << JsonNumber(celsius) << "}\n";
}

}  // namespace tool
}  // namespace qx480

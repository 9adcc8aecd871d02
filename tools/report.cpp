#include "report.h"

#include <cmath>
#include <cstdio>
#include <variant>
#include <vector>

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

// A device-wide field's value in `block`: integers in decimal, the single
// as FormatNumber or, for JSON, as a JSON number.
struct DeviceValue {
    const TimingBlock& block;
    bool json;

    std::string operator()(float TimingBlock::*member) const {
        return json ? JsonNumber(block.*member) : FormatNumber(block.*member);
    }
    template <class T>
    std::string operator()(T TimingBlock::*member) const {
        return std::to_string(block.*member);
    }
};

// "name value" for each field only the device sets, two spaces apart.
std::string DeviceWordsText(const TimingBlock& b) {
    std::string text;
    for (const timing::DeviceField& field : timing::DEVICE_FIELDS) {
        if (field.setByCommand) continue;
        if (!text.empty()) text += "  ";
        text += std::string(field.name) + " " + std::visit(DeviceValue{b, false}, field.member);
    }
    return text;
}

// ,"name":value for each field only the device sets.
std::string DeviceWordsJson(const TimingBlock& b) {
    std::string json;
    for (const timing::DeviceField& field : timing::DEVICE_FIELDS) {
        if (field.setByCommand) continue;
        json += "," + JsonString(field.name) + ":" + std::visit(DeviceValue{b, true}, field.member);
    }
    return json;
}

// Left-aligned cells at least two spaces apart, even when one overflows its column.
std::string Cell(const std::string& text, std::size_t width) {
    return text + std::string(text.size() + 2 > width ? 2 : width - text.size(), ' ');
}

// One line of the channel table: the channel column, then a column per field, the last unpadded.
std::string TableRow(const std::vector<std::string>& cells) {
    constexpr std::size_t CHANNEL_COLUMN = 9;
    constexpr std::size_t FIELD_COLUMN = 18;
    std::string row;
    for (std::size_t i = 0; i + 1 < cells.size(); ++i) row += Cell(cells[i], i == 0 ? CHANNEL_COLUMN : FIELD_COLUMN);
    return row + cells.back() + "\n";
}

void PrintChannelTable(std::ostream& out, const TimingBlock& b) {
    std::vector<std::string> header{"channel"};
    for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) header.push_back(field.name);
    out << TableRow(header);
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        std::vector<std::string> cells{std::to_string(ch)};
        for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) {
            cells.push_back(FormatTime(b.channels[ChannelIndex(ch)].*field.member));
        }
        out << TableRow(cells);
    }
}

std::string ChannelJson(int channel, const timing::ChannelCounts& c) {
    std::string json = "{\"channel\":" + std::to_string(channel);
    for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) {
        json += "," + JsonString(std::string(field.name) + "_ns") + ":" + FormatNanoseconds(c.*field.member);
    }
    return json + "}";
}

}  // namespace

std::string RateText(std::uint32_t ticks) {
    const std::string period = "period " + std::to_string(ticks) + " x " + FormatNumber(units::NS_PER_TICK) + " ns";
    const std::string rate = ticks == 0 ? "none" : FormatRate(units::WireToFrequency(ticks));
    return rate + " (" + period + ")";
}

void PrintStatus(std::ostream& out, const std::string& port, float celsius, const TimingBlock& b) {
    out << "port          " << port << "\n"
        << "temperature   " << FormatNumber(celsius) << " C\n"
        << "trigger rate  " << RateText(b.triggerTicks) << "\n"
        << "device        " << DeviceWordsText(b) << "\n";
    PrintChannelTable(out, b);
}

void PrintStatusJson(std::ostream& out, const std::string& port, float celsius, const TimingBlock& b) {
    const double hz = units::WireToFrequency(b.triggerTicks);
    out << "{\"port\":" << JsonString(port) << ",\"temperature_c\":" << JsonNumber(celsius)
        << ",\"trigger_ticks\":" << b.triggerTicks << ",\"trigger_hz\":" << JsonNumber(hz) << DeviceWordsJson(b)
        << ",\"channels\":[";
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        out << (ch > 1 ? "," : "") << ChannelJson(ch, b.channels[ChannelIndex(ch)]);
    }
    out << "]}\n";
}

void PrintTemperature(std::ostream& out, float celsius) { out << "temperature " << FormatNumber(celsius) << " C\n"; }

void PrintTemperatureJson(std::ostream& out, const std::string& port, float celsius) {
    out << "{\"port\":" << JsonString(port) << ",\"temperature_c\":" << JsonNumber(celsius) << "}\n";
}

}  // namespace tool
}  // namespace qx480

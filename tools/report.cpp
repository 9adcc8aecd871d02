#include "report.h"

#include <cmath>
#include <cstdlib>
#include <variant>

#include "units.h"

namespace qx480 {
namespace tool {
namespace {

// A device-wide field's value in `block`: integers in decimal, the single
// as units::FormatNumber does.
struct DeviceValueText {
    const TimingBlock& block;

    std::string operator()(float TimingBlock::*member) const { return units::FormatNumber(block.*member); }
    template <class T>
    std::string operator()(T TimingBlock::*member) const {
        return std::to_string(block.*member);
    }
};

// The same as a JSON value.
struct DeviceValueJson {
    const TimingBlock& block;

    Json operator()(float TimingBlock::*member) const { return JsonNumber(block.*member); }
    template <class T>
    Json operator()(T TimingBlock::*member) const {
        return block.*member;
    }
};

// "name value" for each field only the device sets, two spaces apart.
std::string DeviceWordsText(const TimingBlock& b) {
    std::string text;
    for (const timing::DeviceField& field : timing::DEVICE_FIELDS) {
        if (field.setByCommand) continue;
        if (!text.empty()) text += "  ";
        text += std::string(field.name) + " " + std::visit(DeviceValueText{b}, field.member);
    }
    return text;
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
    return row + cells.back();
}

void AddChannelTable(std::vector<std::string>& lines, const TimingBlock& b) {
    std::vector<std::string> header{"channel"};
    for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) header.push_back(field.name);
    lines.push_back(TableRow(header));
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        std::vector<std::string> cells{std::to_string(ch)};
        for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) {
            cells.push_back(units::FormatTime(b.channels[ChannelIndex(ch)].*field.member));
        }
        lines.push_back(TableRow(cells));
    }
}

Json ChannelFields(int channel, const timing::ChannelCounts& c) {
    Json fields;
    fields["channel"] = channel;
    for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) {
        fields[std::string(field.name) + "_ns"] = units::FormatNanoseconds(c.*field.member);
        fields[std::string(field.name) + "_counts"] = c.*field.member;
    }
    return fields;
}

}  // namespace

Json JsonNumber(float value) {
    if (!std::isfinite(value)) return nullptr;
    return std::strtod(units::FormatNumber(value).c_str(), nullptr);
}

std::vector<std::string> StatusLines(const std::string& port, float celsius, const TimingBlock& b) {
    std::vector<std::string> lines{"port          " + port, "temperature   " + units::FormatNumber(celsius) + " C",
                                   "trigger rate  " + units::RateText(b.triggerTicks),
                                   "device        " + DeviceWordsText(b)};
    AddChannelTable(lines, b);
    return lines;
}

Json StatusFields(const std::string& port, float celsius, const TimingBlock& b) {
    Json fields;
    fields["port"] = port;
    fields["temperature_c"] = JsonNumber(celsius);
    fields["trigger_ticks"] = b.triggerTicks;
    fields["trigger_hz"] = units::WireToFrequency(b.triggerTicks);
    for (const timing::DeviceField& field : timing::DEVICE_FIELDS) {
        if (!field.setByCommand) fields[field.name] = std::visit(DeviceValueJson{b}, field.member);
    }
    Json channels = Json::array();
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) channels.push_back(ChannelFields(ch, b.channels[ChannelIndex(ch)]));
    fields["channels"] = channels;
    return fields;
}

std::string TemperatureLine(float celsius) { return "temperature " + units::FormatNumber(celsius) + " C"; }

Json TemperatureFields(const std::string& port, float celsius) {
    Json fields;
    fields["port"] = port;
    fields["temperature_c"] = JsonNumber(celsius);
    return fields;
}

}  // namespace tool
}  // namespace qx480

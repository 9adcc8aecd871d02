#include "arguments.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>

namespace qx480 {
namespace tool {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

std::vector<std::string> TriggerModeList() {
    std::vector<std::string> names;
    for (const NamedTriggerMode& m : TRIGGER_MODES) names.push_back(m.name);
    return names;
}

}  // namespace

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

// Eighteen digits always fit a long long.
bool ParseWhole(const std::string& text, long long max, long long& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoll(text);
    return value <= max;
}

std::string CaseHint(const std::string& word, const std::vector<std::string>& choices) {
    for (const std::string& choice : choices) {
        if (word != choice && Lower(word) == Lower(choice)) return ": did you mean " + choice + "?";
    }
    return "";
}

std::string TriggerModeNames(const char* between, const char* beforeLast) {
    std::string text;
    const std::size_t count = std::size(TRIGGER_MODES);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += i + 1 == count ? beforeLast : between;
        text += TRIGGER_MODES[i].name;
    }
    return text;
}

bool ParseChannel(const std::string& text, int& channel, std::string& error) {
    long long value;
    if (!ParseWhole(text, INT_MAX, value)) {
        error = "channel " + Quoted(text) + " is not a number from 1 to " + std::to_string(CHANNEL_COUNT);
        return false;
    }
    if (!IsChannel(static_cast<int>(value))) {
        error = "channel " + text + " is outside 1 to " + std::to_string(CHANNEL_COUNT);
        return false;
    }
    channel = static_cast<int>(value);
    return true;
}

bool ParseOnOff(const std::string& text, const std::string& what, bool& on, std::string& error) {
    if (text == "on" || text == "off") {
        on = text == "on";
        return true;
    }
    error = what + " takes on or off, not " + Quoted(text) + CaseHint(text, {"on", "off"});
    return false;
}

bool ParseTriggerSource(const std::string& text, QX480TriggerMode& mode, std::string& error) {
    if (TriggerModeByName(text, mode)) return true;
    error =
        "trigger takes " + TriggerModeNames(", ", " or ") + ", not " + Quoted(text) + CaseHint(text, TriggerModeList());
    return false;
}

bool ParseTimeWord(const std::string& text, const std::string& what, std::uint64_t& counts, std::string& error) {
    const units::UnitError e = units::ParseTime(text, counts);
    if (e == units::UnitError::None) return true;
    error = what + " " + units::TimeRefusal(e, text);
    return false;
}

bool ParseRateWord(const std::string& text, std::uint32_t& ticks, double& requestedHz, std::string& error) {
    const units::UnitError e = units::ParseRate(text, ticks, requestedHz);
    if (e == units::UnitError::None) return true;
    error = "rate " + units::RateRefusal(e, text);
    return false;
}

}  // namespace tool
}  // namespace qx480

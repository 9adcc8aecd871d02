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

// ": the nearest are 0ns and 10ps" for a time between two whole steps.
std::string NearestSteps(const std::string& text) {
    std::uint64_t below;
    if (!StepBelow(text, below)) return "";
    if (below == UINT64_MAX) return ": the nearest is " + TimeWord(below);
    return ": the nearest are " + TimeWord(below) + " and " + TimeWord(below + 1);
}

// ": did you mean ns?" for a unit typed in other case.
std::string UnitHint(const std::string& meant) { return meant.empty() ? "" : ": did you mean " + meant + "?"; }

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

std::string TimeProblem(UnitError e, const std::string& text) {
    const std::string subject = Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::NotWholeStep:
            return subject + " is not a whole number of " + FormatTime(1) + " steps" + NearestSteps(text);
        case UnitError::TooLarge:
            return subject + " is beyond the longest time the device takes, " + FormatTime(UINT64_MAX);
        case UnitError::UnknownUnit: {
            const std::string hint = UnitHint(TimeUnitMeant(text));
            return subject + " has an unknown unit" + (hint.empty() ? ": use ps, ns (the default), us, ms or s" : hint);
        }
        default: return subject + " is not a time: give a number with ps, ns (the default), us, ms or s";
    }
}

std::string RateProblem(UnitError e, const std::string& text) {
    const std::string subject = Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::Zero: return subject + " is zero: give a rate above 0 Hz";
        case UnitError::TooFast:
            return subject + " is above " + FormatRate(units::WireToFrequency(1)) + ", the fastest the device's " +
                   FormatNumber(units::NS_PER_TICK) + " ns period steps reach";
        case UnitError::TooSlow:
            return subject + " is below " + FormatRate(units::WireToFrequency(UINT32_MAX)) +
                   ", the slowest the device's period reaches";
        case UnitError::UnknownUnit: {
            const std::string hint = UnitHint(RateUnitMeant(text));
            return subject + " has an unknown unit" + (hint.empty() ? ": use Hz (the default), kHz or MHz" : hint);
        }
        default: return subject + " is not a rate: give a number with Hz (the default), kHz or MHz";
    }
}

bool ParseTimeWord(const std::string& text, const std::string& what, std::uint64_t& counts, std::string& error) {
    const UnitError e = ParseTime(text, counts);
    if (e == UnitError::None) return true;
    error = what + " " + TimeProblem(e, text);
    return false;
}

bool ParseRateWord(const std::string& text, std::uint32_t& ticks, double& requestedHz, std::string& error) {
    const UnitError e = ParseRate(text, ticks, requestedHz);
    if (e == UnitError::None) return true;
    error = "rate " + RateProblem(e, text);
    return false;
}

}  // namespace tool
}  // namespace qx480

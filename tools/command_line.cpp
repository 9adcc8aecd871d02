#include "command_line.h"

#include <climits>

#include "qx480ddg.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

using Words = std::vector<std::string>;

struct CommandSpec {
    const char* name;
    Action action;
    int argumentCount;
    const char* arguments;  // for the "needs" message
    bool (*parse)(const Words& args, Step& step, std::string& error);
};

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

// Decimal digits only, at most `max`. Eighteen digits always fit a long long.
bool ParseWhole(const std::string& text, long long max, long long& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoll(text);
    return value <= max;
}

bool ParseChannel(const std::string& text, int& channel, std::string& error) {
    long long value;
    if (!ParseWhole(text, INT_MAX, value)) {
        error = "channel " + Quoted(text) + " is not a number from 1 to " + std::to_string(QX480DDG::CHANNEL_COUNT);
        return false;
    }
    if (value < 1 || value > QX480DDG::CHANNEL_COUNT) {
        error = "channel " + text + " is outside 1 to " + std::to_string(QX480DDG::CHANNEL_COUNT);
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
    error = what + " takes on or off, not " + Quoted(text);
    return false;
}

std::string TimeError(UnitError e, const std::string& what, const std::string& text) {
    const std::string subject = what + " " + Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::NotWholeStep: return subject + " is not a whole number of 10 ps steps";
        case UnitError::TooLarge:
            return subject + " is beyond the longest time the device takes, " + FormatTime(UINT64_MAX);
        case UnitError::UnknownUnit: return subject + " has an unknown unit: use ps, ns (the default), us, ms or s";
        default: return subject + " is not a time: give a number with ps, ns (the default), us, ms or s";
    }
}

std::string RateError(UnitError e, const std::string& text) {
    const std::string subject = "rate " + Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::Zero: return subject + " is zero: give a rate above 0 Hz";
        case UnitError::TooFast:
            return subject + " is above " + FormatRate(units::WireToFrequency(1)) +
                   ", the fastest the device's 4 ns period steps reach";
        case UnitError::TooSlow:
            return subject + " is below " + FormatRate(units::WireToFrequency(UINT32_MAX)) +
                   ", the slowest the device's period reaches";
        case UnitError::UnknownUnit: return subject + " has an unknown unit: use Hz (the default), kHz or MHz";
        default: return subject + " is not a rate: give a number with Hz (the default), kHz or MHz";
    }
}

bool ParseNothing(const Words&, Step&, std::string&) { return true; }

bool ParseTimeCommand(const Words& args, Step& step, std::string& error, const char* what) {
    if (!ParseChannel(args[0], step.channel, error)) return false;
    const UnitError e = ParseTime(args[1], step.counts);
    if (e == UnitError::None) return true;
    error = TimeError(e, what, args[1]);
    return false;
}

bool ParseDelay(const Words& args, Step& step, std::string& error) {
    return ParseTimeCommand(args, step, error, "delay");
}

bool ParseWidth(const Words& args, Step& step, std::string& error) {
    return ParseTimeCommand(args, step, error, "width");
}

bool ParseChannelSwitch(const Words& args, Step& step, std::string& error) {
    return ParseChannel(args[0], step.channel, error) && ParseOnOff(args[1], "channel " + args[0], step.on, error);
}

bool ParseOutput(const Words& args, Step& step, std::string& error) {
    return ParseOnOff(args[0], "output", step.on, error);
}

bool ParseTrigger(const Words& args, Step& step, std::string& error) {
    const std::pair<const char*, QX480TriggerMode> modes[] = {{"internal", QX480TriggerMode::Internal},
                                                              {"external", QX480TriggerMode::External},
                                                              {"software", QX480TriggerMode::Software}};
    for (const auto& m : modes) {
        if (args[0] == m.first) {
            step.mode = m.second;
            return true;
        }
    }
    error = "trigger takes internal, external or software, not " + Quoted(args[0]);
    return false;
}

bool ParseRateCommand(const Words& args, Step& step, std::string& error) {
    const UnitError e = ParseRate(args[0], step.ticks);
    if (e == UnitError::None) return true;
    error = RateError(e, args[0]);
    return false;
}

const CommandSpec kCommands[] = {
    {"status", Action::Status, 0, "", ParseNothing},
    {"delay", Action::Delay, 2, "CH TIME", ParseDelay},
    {"width", Action::Width, 2, "CH TIME", ParseWidth},
    {"channel", Action::Channel, 2, "CH on|off", ParseChannelSwitch},
    {"output", Action::Output, 1, "on|off", ParseOutput},
    {"trigger", Action::Trigger, 1, "internal|external|software", ParseTrigger},
    {"rate", Action::Rate, 1, "FREQ", ParseRateCommand},
    {"fire", Action::Fire, 0, "", ParseNothing},
    {"temp", Action::Temp, 0, "", ParseNothing},
};

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& c : kCommands) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

class Parser {
public:
    explicit Parser(const Words& args) : m_args(args) {}

    bool Parse(Invocation& out, std::string& error) {
        Invocation inv;
        Words commandWords;
        while (m_next < m_args.size()) {
            // A single dash is no option: "-5ns" is a (negative) time.
            if (IsOptionWord(m_args[m_next])) {
                if (!Option(inv, error)) return false;
            } else {
                commandWords.push_back(m_args[m_next++]);
            }
        }
        if (inv.kind == Invocation::Kind::Usage) {
            out = inv;
            return true;
        }
        if (!Commands(commandWords, inv, error)) return false;
        if (inv.simulate && !inv.port.empty()) {
            error = "--simulate and --port cannot be used together";
            return false;
        }
        out = inv;
        return true;
    }

private:
    static bool IsOptionWord(const std::string& word) { return word.compare(0, 2, "--") == 0 || word == "-h"; }

    // "--name value" or "--name=value".
    bool Value(const std::string& name, std::string& value, std::string& error) {
        const std::string& word = m_args[m_next - 1];
        if (word.size() > name.size() && word[name.size()] == '=') {
            value = word.substr(name.size() + 1);
        } else if (m_next < m_args.size()) {
            value = m_args[m_next++];
        } else {
            value.clear();
        }
        if (!value.empty()) return true;
        error = name + " needs a value";
        return false;
    }

    static bool Named(const std::string& word, const std::string& name) {
        return word == name || word.compare(0, name.size() + 1, name + "=") == 0;
    }

    bool Option(Invocation& inv, std::string& error) {
        const std::string word = m_args[m_next++];
        std::string value;
        if (word == "--help" || word == "-h") {
            inv.kind = Invocation::Kind::Usage;
        } else if (word == "--trace") {
            inv.trace = true;
        } else if (word == "--json") {
            inv.json = true;
        } else if (word == "--simulate") {
            inv.simulate = true;
        } else if (Named(word, "--port")) {
            if (!Value("--port", value, error)) return false;
            inv.port = value;
        } else if (Named(word, "--baud")) {
            if (!Value("--baud", value, error)) return false;
            long long baud;
            if (!ParseWhole(value, INT_MAX, baud) || baud == 0) {
                error = "--baud needs a positive whole number, not " + Quoted(value);
                return false;
            }
            inv.baud = static_cast<int>(baud);
        } else {
            error = "unknown option " + Quoted(word) + " (see qx480 --help)";
            return false;
        }
        return true;
    }

    static bool Commands(const Words& words, Invocation& inv, std::string& error) {
        if (words.empty()) {
            error = "no command given (see qx480 --help)";
            return false;
        }
        if (words[0] == "help") {
            if (words.size() > 2) {
                error = "help takes one command name: qx480 help COMMAND";
                return false;
            }
            inv.kind = words.size() == 1 ? Invocation::Kind::Usage : Invocation::Kind::CommandHelp;
            if (words.size() == 2) inv.helpTopic = words[1];
            return true;
        }
        if (words[0] == "ports") {
            if (words.size() > 1) {
                error = "ports runs alone: qx480 ports";
                return false;
            }
            inv.kind = Invocation::Kind::Ports;
            return true;
        }
        for (std::size_t i = 0; i < words.size();) {
            if (!Command(words, i, inv, error)) return false;
        }
        return true;
    }

    static bool Command(const Words& words, std::size_t& i, Invocation& inv, std::string& error) {
        const CommandSpec* known = FindCommand(words[i]);
        if (known == nullptr) {
            error = "unknown command " + Quoted(words[i]) + " (see qx480 --help)";
            return false;
        }
        const std::size_t count = static_cast<std::size_t>(known->argumentCount);
        if (words.size() - i - 1 < count) {
            error = std::string(known->name) + " needs " + known->arguments + " (see qx480 help " + known->name + ")";
            return false;
        }
        const Words args(words.begin() + static_cast<std::ptrdiff_t>(i + 1),
                         words.begin() + static_cast<std::ptrdiff_t>(i + 1 + count));
        Step step;
        step.action = known->action;
        step.typed = known->name;
        for (const std::string& a : args) step.typed += " " + a;
        if (!known->parse(args, step, error)) return false;
        inv.steps.push_back(step);
        i += 1 + count;
        return true;
    }

    const Words& m_args;
    std::size_t m_next = 0;
};

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error) {
    return Parser(args).Parse(out, error);
}

}  // namespace tool
}  // namespace qx480

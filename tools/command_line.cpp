#include "command_line.h"

#include <cctype>
#include <climits>

namespace qx480 {
namespace tool {
namespace {

// The word that ends the options: every word after it is a command word.
const char* const END_OF_OPTIONS = "--";

bool TakePort(const std::string& value, Invocation& inv, std::string&) {
    inv.port = value;
    return true;
}

bool TakeBaud(const std::string& value, Invocation& inv, std::string& error) {
    long long baud;
    if (!ParseWhole(value, INT_MAX, baud) || baud == 0) {
        error = "--baud needs a positive whole number, not " + Quoted(value);
        return false;
    }
    inv.baud = static_cast<int>(baud);
    return true;
}

bool TakeRetries(const std::string& value, Invocation& inv, std::string& error) {
    long long retries;
    if (!ParseWhole(value, MAX_RETRIES, retries)) {
        error = "--retries needs a whole number from 0 to " + std::to_string(MAX_RETRIES) + ", not " + Quoted(value);
        return false;
    }
    inv.retries = static_cast<int>(retries);
    return true;
}

bool TakeWidth(const std::string& value, Invocation& inv, std::string& error) {
    long long columns;
    if (!ParseWhole(value, MAX_DIAGRAM_WIDTH, columns) || columns < static_cast<long long>(MIN_DIAGRAM_WIDTH)) {
        error = "--width needs a number of columns from " + std::to_string(MIN_DIAGRAM_WIDTH) + " to " +
                std::to_string(MAX_DIAGRAM_WIDTH) + ", not " + Quoted(value);
        return false;
    }
    inv.diagramWidth = static_cast<std::size_t>(columns);
    return true;
}

// An option that keeps its value as typed in `field`, for the command that checks it.
template <std::string Invocation::*field>
bool TakeText(const std::string& value, Invocation& inv, std::string&) {
    inv.*field = value;
    return true;
}

// A flag: the option sets `flag`.
template <bool Invocation::*flag>
bool TakeFlag(const std::string&, Invocation& inv, std::string&) {
    inv.*flag = true;
    return true;
}

bool TakeVersion(const std::string&, Invocation& inv, std::string&) {
    inv.kind = Invocation::Kind::Version;
    return true;
}

bool TakeHelp(const std::string&, Invocation& inv, std::string&) {
    inv.kind = Invocation::Kind::Usage;
    return true;
}

std::vector<Option> MakeOptions() {
    return {
        {"--port", "-p", "PORT", "the serial port; without it, QX480_PORT names it", TakePort},
        {"--baud", "", "N", "line speed (default " + std::to_string(DEFAULT_BAUD) + ")", TakeBaud},
        {"--json", "", "", "one JSON object per step on standard output", TakeFlag<&Invocation::json>},
        {"--verify", "", "", "read back the delays, widths and rate that were set", TakeFlag<&Invocation::verify>},
        {"--retries", "", "N", "try a step up to N more times after no valid answer", TakeRetries},
        {"--width", "", "COLUMNS",
         "diagram width (default " + std::to_string(DEFAULT_DIAGRAM_WIDTH) + ", " + std::to_string(MIN_DIAGRAM_WIDTH) +
             " to " + std::to_string(MAX_DIAGRAM_WIDTH) + ")",
         TakeWidth},
        {"--trace", "", "", "print the frames sent, received and dropped (hex, stderr)", TakeFlag<&Invocation::trace>},
        {"--simulate", "", "", "use the built-in simulated device instead of a port", TakeFlag<&Invocation::simulate>},
        {"--listen", "", "HOST:PORT", "panel: the address to serve on (default 127.0.0.1:8480)",
         TakeText<&Invocation::listen>},
        {"--token", "", "TOKEN", "panel: the token every request must carry", TakeText<&Invocation::token>},
        {"--version", "-V", "", "print the version", TakeVersion},
        {"--help", "-h", "", "this text; qx480 help COMMAND shows one command", TakeHelp},
    };
}

// "--name", "-x": an option. A single dash before a digit is a number ("-5ns"), not an option.
bool IsOptionWord(const std::string& word) {
    if (word.size() < 2 || word[0] != '-') return false;
    return word[1] == '-' || std::isalpha(static_cast<unsigned char>(word[1]));
}

const Option* FindOption(const std::string& name) {
    for (const Option& o : Options()) {
        if (name == o.name || (!o.shortName.empty() && name == o.shortName)) return &o;
    }
    return nullptr;
}

std::vector<std::string> OptionNames() {
    std::vector<std::string> names;
    for (const Option& o : Options()) names.push_back(o.name);
    return names;
}

std::vector<std::string> CommandNames() {
    std::vector<std::string> names{"help"};
    for (const Command& c : Commands()) names.push_back(c.name);
    return names;
}

// `number` and `next` as one word when that reads as a quantity of `parse`,
// or as one with the unit `meant` gives for a unit typed in other case;
// empty otherwise.
template <class Value>
std::string JoinedWith(const std::string& number, const std::string& next,
                       units::UnitError (*parse)(const std::string&, Value&),
                       std::string (*meant)(const std::string&)) {
    const std::string joined = number + next;
    Value value;
    const units::UnitError e = parse(joined, value);
    if (e != units::UnitError::UnknownUnit && e != units::UnitError::NotANumber) return joined;
    const std::string unit = meant(joined);
    return unit.empty() ? "" : number + unit;
}

units::UnitError ParseRateAlone(const std::string& text, std::uint32_t& ticks) { return units::ParseRate(text, ticks); }

// The word that a command's last argument `number` and the next word make
// when they are one quantity typed as two words ("10" "ns"); empty when
// they are not.
std::string JoinedQuantity(const Command& command, const std::string& number, const std::string& next) {
    if (next.empty() || std::isdigit(static_cast<unsigned char>(next[0])) || next[0] == '.') return "";
    if (command.LastArgument() == "TIME")
        return JoinedWith<std::uint64_t>(number, next, units::ParseTime, units::TimeUnitMeant);
    if (command.LastArgument() == "FREQ")
        return JoinedWith<std::uint32_t>(number, next, ParseRateAlone, units::RateUnitMeant);
    return "";
}

class Parser {
public:
    explicit Parser(const Words& args) : m_args(args) {}

    bool Parse(Invocation& out, std::string& error, std::string& errorStep) {
        Invocation inv;
        Words commandWords;
        bool optionsEnded = false;
        while (m_next < m_args.size()) {
            const std::string& word = m_args[m_next];
            if (!optionsEnded && word == END_OF_OPTIONS) {
                optionsEnded = true;
                ++m_next;
            } else if (!optionsEnded && IsOptionWord(word)) {
                if (!TakeOption(inv, error)) return false;
            } else {
                commandWords.push_back(m_args[m_next++]);
            }
        }
        if (inv.kind == Invocation::Kind::Usage || inv.kind == Invocation::Kind::Version) {
            out = inv;
            return true;
        }
        if (!TakeCommands(commandWords, inv, error, errorStep)) return false;
        if (inv.simulate && !inv.port.empty()) {
            error = "--simulate and --port cannot be used together";
            return false;
        }
        const bool panel = inv.kind == Invocation::Kind::Alone && inv.alone->name == "panel";
        if (!panel && (!inv.listen.empty() || !inv.token.empty())) {
            error = std::string(inv.listen.empty() ? "--token" : "--listen") + " is for qx480 panel alone";
            return false;
        }
        out = inv;
        return true;
    }

private:
    // "--name value", "--name=value" or "-x value".
    bool Value(const std::string& name, const std::string& word, std::string& value, std::string& error) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            value = word.substr(equals + 1);
        } else if (m_next < m_args.size()) {
            value = m_args[m_next++];
        } else {
            value.clear();
        }
        if (!value.empty()) return true;
        error = name + " needs a value";
        return false;
    }

    bool TakeOption(Invocation& inv, std::string& error) {
        const std::string word = m_args[m_next++];
        const bool isLong = word.compare(0, 2, "--") == 0;
        const std::string name = isLong ? word.substr(0, word.find('=')) : word;
        const Option* option = FindOption(name);
        if (option == nullptr) {
            const std::string hint = CaseHint(name, OptionNames());
            error = "unknown option " + Quoted(word) + (hint.empty() ? " (see qx480 --help)" : hint);
            return false;
        }
        std::string value;
        if (option->value.empty()) {
            if (name != word) {
                error = option->name + " takes no value";
                return false;
            }
        } else if (!Value(option->name, word, value, error)) {
            return false;
        }
        return option->take(value, inv, error);
    }

    static bool TakeCommands(const Words& words, Invocation& inv, std::string& error, std::string& errorStep) {
        if (words.empty()) {
            error = "no command given (see qx480 --help)";
            return false;
        }
        if (words[0] == "help") return TakeHelpTopic(words, inv, error);
        const Command* first = FindCommand(words[0]);
        if (first != nullptr && first->runAlone != nullptr) {
            if (words.size() > 1) {
                error = first->name + " runs alone: qx480 " + first->name;
                return false;
            }
            inv.kind = Invocation::Kind::Alone;
            inv.alone = first;
            return true;
        }
        for (std::size_t i = 0; i < words.size();) {
            if (!TakeStep(words, i, inv, error, errorStep)) return false;
        }
        return true;
    }

    static bool TakeHelpTopic(const Words& words, Invocation& inv, std::string& error) {
        if (words.size() > 2) {
            error = "help takes one command name: qx480 help COMMAND";
            return false;
        }
        inv.kind = words.size() == 1 ? Invocation::Kind::Usage : Invocation::Kind::CommandHelp;
        if (words.size() == 2) inv.helpTopic = words[1];
        return true;
    }

    // Why `words[i]` is no command, with a hint for the common slips.
    static std::string UnknownCommand(const Words& words, std::size_t i, const Invocation& inv) {
        const std::string& word = words[i];
        if (!inv.steps.empty()) {
            const std::string joined = JoinedQuantity(*inv.steps.back().command, words[i - 1], word);
            if (!joined.empty()) {
                const bool time = inv.steps.back().command->LastArgument() == "TIME";
                return "unknown command " + Quoted(word) + ": a " + (time ? "time" : "rate") + " is one word: write " +
                       joined;
            }
        }
        const std::string hint = CaseHint(word, CommandNames());
        return "unknown command " + Quoted(word) + (hint.empty() ? " (see qx480 --help)" : hint);
    }

    static bool TakeStep(const Words& words, std::size_t& i, Invocation& inv, std::string& error,
                         std::string& errorStep) {
        const Command* known = FindCommand(words[i]);
        if (known == nullptr || known->parse == nullptr) {
            error = UnknownCommand(words, i, inv);
            return false;
        }
        const std::size_t count = known->ArgumentCount();
        if (words.size() - i - 1 < count) {
            errorStep = known->name;
            error = known->name + " needs " + known->arguments + " (see qx480 help " + known->name + ")";
            return false;
        }
        const Words args(words.begin() + static_cast<std::ptrdiff_t>(i + 1),
                         words.begin() + static_cast<std::ptrdiff_t>(i + 1 + count));
        Step step;
        step.command = known;
        step.typed = known->name;
        for (const std::string& a : args) step.typed += " " + a;
        if (!known->parse(args, step, error)) {
            errorStep = known->name;
            return false;
        }
        inv.steps.push_back(step);
        i += 1 + count;
        return true;
    }

    const Words& m_args;
    std::size_t m_next = 0;
};

}  // namespace

const std::vector<Option>& Options() {
    static const std::vector<Option> options = MakeOptions();
    return options;
}

bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error) {
    std::string errorStep;
    return ParseCommandLine(args, out, error, errorStep);
}

bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error,
                      std::string& errorStep) {
    errorStep.clear();
    return Parser(args).Parse(out, error, errorStep);
}

bool AsksForJson(const std::vector<std::string>& args) {
    for (const std::string& word : args) {
        if (word == END_OF_OPTIONS) return false;
        if (word == "--json") return true;
    }
    return false;
}

}  // namespace tool
}  // namespace qx480

#include "command_line.h"

#include <climits>

namespace qx480 {
namespace tool {

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

// Eighteen digits always fit a long long.
bool ParseWhole(const std::string& text, long long max, long long& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoll(text);
    return value <= max;
}

namespace {

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
        if (!TakeCommands(commandWords, inv, error)) return false;
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

    static bool TakeCommands(const Words& words, Invocation& inv, std::string& error) {
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
            if (!TakeStep(words, i, inv, error)) return false;
        }
        return true;
    }

    static bool TakeStep(const Words& words, std::size_t& i, Invocation& inv, std::string& error) {
        const Command* known = FindCommand(words[i]);
        if (known == nullptr || known->parse == nullptr) {
            error = "unknown command " + Quoted(words[i]) + " (see qx480 --help)";
            return false;
        }
        const std::size_t count = known->ArgumentCount();
        if (words.size() - i - 1 < count) {
            error = known->name + " needs " + known->arguments + " (see qx480 help " + known->name + ")";
            return false;
        }
        const Words args(words.begin() + static_cast<std::ptrdiff_t>(i + 1),
                         words.begin() + static_cast<std::ptrdiff_t>(i + 1 + count));
        Step step;
        step.command = known;
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

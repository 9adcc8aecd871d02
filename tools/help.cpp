#include "help.h"

#include <algorithm>

#include "command_line.h"
#include "command_table.h"
#include "platform.h"
#include "qx480.h"

namespace qx480 {
namespace tool {
namespace {

// Where the summaries start in the command list, after the two-space indent.
constexpr std::size_t SUMMARY_COLUMN = 32;

struct ExitStatusLine {
    int status;
    const char* meaning;
};

constexpr ExitStatusLine EXIT_STATUSES[] = {
    {EXIT_OK, "success"},
    {EXIT_LOCAL, "standard output, the file of save, the port list or the panel's address failed"},
    {EXIT_USAGE, "a usage error: bad arguments, a bad setup file, no port named"},
    {EXIT_OPEN, "the port could not be opened"},
    {EXIT_NO_ANSWER, "no valid answer: none, a corrupted one, the port failed, an echo"},
    {EXIT_REFUSED, "the device refused a request"},
    {EXIT_MISMATCH, "a read-back differs from what was set (--verify) or the file (diff)"},
};

// A command's line in the usage text: its usage, then its summary from
// SUMMARY_COLUMN on, or at least two spaces after a longer usage.
std::string ListLine(const Command& c) {
    const std::string usage = c.Usage();
    if (c.summary.empty()) return "  " + usage + "\n";
    const std::size_t gap = usage.size() + 2 > SUMMARY_COLUMN ? 2 : SUMMARY_COLUMN - usage.size();
    return "  " + usage + std::string(gap, ' ') + c.summary + "\n";
}

std::string CommandList() {
    std::string text;
    for (const Command& c : Commands()) text += ListLine(c);
    return text;
}

// "-p, --port PORT" or "    --baud N".
std::string OptionUsage(const Option& o) {
    const std::string shortForm = o.shortName.empty() ? "    " : o.shortName + ", ";
    return shortForm + o.name + (o.value.empty() ? "" : " " + o.value);
}

std::string OptionList() {
    std::size_t column = 0;
    for (const Option& o : Options()) column = std::max(column, OptionUsage(o).size() + 2);
    std::string text;
    for (const Option& o : Options()) {
        const std::string usage = OptionUsage(o);
        text += "  " + usage + std::string(column - usage.size(), ' ') + o.help + "\n";
    }
    return text;
}

std::string ExitStatusList() {
    std::string text;
    for (const ExitStatusLine& line : EXIT_STATUSES)
        text += "  " + std::to_string(line.status) + "  " + line.meaning + "\n";
    return text;
}

std::string Examples() {
    const std::string port = ExamplePortName();
    std::string text = "  qx480 --port " + port + " delay 1 10ns width 1 100ns channel 1 on output on status\n" +
                       "  qx480 -p " + port + " --verify --retries 2 apply setup.json\n" + "  qx480 --json --port " +
                       port + " rate 3MHz diagram\n";
    return text + "  qx480 --simulate --json status\n";
}

}  // namespace

std::string UsageText() {
    return std::string("usage: qx480 --port PORT [OPTIONS] COMMAND [ARGS] [COMMAND [ARGS] ...]\n") +
           "       qx480 --simulate [OPTIONS] COMMAND [ARGS] ...\n" +
           "       qx480 [--json] ports\n"
           "       qx480 help COMMAND\n"
           "\n"
           "Runs the commands in order on one open port and stops at the first failure.\n"
           "The port is --port PORT, else the environment variable QX480_PORT; qx480\n"
           "never guesses one. Options may stand anywhere before --, which ends them.\n"
           "--retries never repeats fire.\n"
           "\n"
           "commands:\n" +
           CommandList() +
           "\n"
           "options:\n" +
           OptionList() +
           "\n"
           "exit status:\n" +
           ExitStatusList() +
           "\n"
           "examples:\n" +
           Examples();
}

std::string VersionText() { return std::string("qx480 ") + qx480_version() + "\n"; }

bool CommandHelpText(const std::string& command, std::string& text) {
    const Command* c = FindCommand(command);
    if (c == nullptr) return false;
    text = "usage: qx480 " + c->Usage() + "\n" + c->details;
    return true;
}

}  // namespace tool
}  // namespace qx480

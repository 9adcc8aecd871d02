#include "help.h"

#include "command_line.h"
#include "command_table.h"

namespace qx480 {
namespace tool {
namespace {

// Where the summaries start in the command list, after the two-space indent.
constexpr std::size_t SUMMARY_COLUMN = 32;

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

}  // namespace

std::string UsageText(const std::string& defaultPort) {
    return "usage: qx480 [--port NAME] [--baud N] [--trace] [--json] COMMAND [ARGS] [COMMAND [ARGS] ...]\n"
           "       qx480 --simulate [--trace] [--json] COMMAND [ARGS] ...\n"
           "       qx480 ports\n"
           "       qx480 help COMMAND\n"
           "\n"
           "Runs the commands in order on one open port and stops at the first failure.\n"
           "\n"
           "commands:\n" +
           CommandList() +
           "\n"
           "options:\n"
           "  --port NAME    the serial port (default " +
           defaultPort +
           "); on Windows COM1 to COM256\n"
           "  --baud N       line speed (default " +
           std::to_string(DEFAULT_BAUD) +
           ")\n"
           "  --simulate     talk to the built-in simulated device instead of a port (Linux and\n"
           "                 other POSIX systems)\n"
           "  --trace        print each frame sent (->) and received (<-) in hex on standard error\n"
           "  --json         print status and temp as one JSON object per line\n"
           "  --help         this text; qx480 help COMMAND shows one command with examples\n"
           "\n"
           "exit status: 0 success, 1 the port could not be opened or the device refused or did not\n"
           "answer, 2 a usage error.\n"
           "\n"
           "examples:\n"
           "  qx480 --port /dev/ttyUSB0 delay 1 10ns width 1 100ns channel 1 on output on status\n"
           "  qx480 --port COM12 trigger software fire\n"
           "  qx480 --simulate --json status\n";
}

bool CommandHelpText(const std::string& command, std::string& text) {
    const Command* c = FindCommand(command);
    if (c == nullptr) return false;
    text = "usage: qx480 " + c->Usage() + "\n" + c->details;
    return true;
}

}  // namespace tool
}  // namespace qx480

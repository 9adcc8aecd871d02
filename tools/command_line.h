// The qx480 command line, checked whole before any port is opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_table.h"
#include "commands.h"

namespace qx480 {
namespace tool {

constexpr int EXIT_OK = 0;
constexpr int EXIT_DEVICE = 1;  // the port could not be opened, or the device refused or did not answer
constexpr int EXIT_USAGE = 2;

constexpr int DEFAULT_BAUD = 115200;

// One device command with its arguments checked and converted to wire units.
struct Step {
    const Command* command = nullptr;                    // its row of the command table
    int channel = 0;                                     // delay, width, channel
    std::uint64_t counts = 0;                            // delay, width: 10 ps counts
    bool on = false;                                     // channel, output
    QX480TriggerMode mode = QX480TriggerMode::Internal;  // trigger
    std::uint32_t ticks = 0;                             // rate: period in 4 ns ticks
    std::string typed;                                   // the words as given, for messages
};

struct Invocation {
    // Run: the steps on one port. Alone: a command that runs by itself.
    enum class Kind { Run, Alone, Usage, CommandHelp };
    Kind kind = Kind::Run;
    const Command* alone = nullptr;  // Alone
    std::string port;                // empty: the platform's default port
    int baud = DEFAULT_BAUD;
    bool trace = false;
    bool json = false;
    bool simulate = false;
    std::string helpTopic;  // CommandHelp
    std::vector<Step> steps;
};

// A word in quotes, as messages show what was typed: 'word'.
std::string Quoted(const std::string& word);

// True, with `value` set, for decimal digits only (at most 18) whose number
// is at most `max`.
bool ParseWhole(const std::string& text, long long max, long long& value);

// Fills `out` from the arguments (without the program name). On a usage
// error returns false with one plain line in `error`.
bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error);

}  // namespace tool
}  // namespace qx480

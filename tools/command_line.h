// The qx480 command line, checked whole before any port is opened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

namespace qx480 {
namespace tool {

constexpr int EXIT_OK = 0;
constexpr int EXIT_DEVICE = 1;  // the port could not be opened, or the device refused or did not answer
constexpr int EXIT_USAGE = 2;

constexpr int DEFAULT_BAUD = 115200;

enum class Action { Status, Delay, Width, Channel, Output, Trigger, Rate, Fire, Temp };

// One device command with its arguments checked and converted to wire units.
struct Step {
    Action action = Action::Status;
    int channel = 0;                                     // Delay, Width, Channel
    std::uint64_t counts = 0;                            // Delay, Width: 10 ps counts
    bool on = false;                                     // Channel, Output
    QX480TriggerMode mode = QX480TriggerMode::Internal;  // Trigger
    std::uint32_t ticks = 0;                             // Rate: period in 4 ns ticks
    std::string typed;                                   // the words as given, for messages
};

struct Invocation {
    enum class Kind { Run, Ports, Usage, CommandHelp };
    Kind kind = Kind::Run;
    std::string port;  // empty: the platform's default port
    int baud = DEFAULT_BAUD;
    bool trace = false;
    bool json = false;
    bool simulate = false;
    std::string helpTopic;  // CommandHelp
    std::vector<Step> steps;
};

// Fills `out` from the arguments (without the program name). On a usage
// error returns false with one plain line in `error`.
bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error);

}  // namespace tool
}  // namespace qx480

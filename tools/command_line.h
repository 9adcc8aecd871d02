// The qx480 command line, checked whole before any port is opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arguments.h"
#include "command_table.h"
#include "commands.h"
#include "diagram.h"
#include "exit_status.h"
#include "setup_file.h"

namespace qx480 {
namespace tool {

constexpr int DEFAULT_BAUD = 115200;
constexpr int MAX_RETRIES = 100;

// One device command with its arguments checked and converted to wire units.
struct Step {
    const Command* command = nullptr;                    // its row of the command table
    int channel = 0;                                     // delay, width, channel
    std::uint64_t counts = 0;                            // delay, width: 10 ps counts
    bool on = false;                                     // channel, output
    QX480TriggerMode mode = QX480TriggerMode::Internal;  // trigger
    std::uint32_t ticks = 0;                             // rate: period in 4 ns ticks
    double requestedHz = 0;                              // rate: the rate asked for
    std::string file;                                    // apply, save, diff: the file as typed
    std::shared_ptr<const Setup> setup;                  // apply, diff: the file, checked
    std::string typed;                                   // the words as given, for messages
};

struct Invocation {
    // Run: the steps on one port. Alone: a command that runs by itself.
    enum class Kind { Run, Alone, Usage, CommandHelp, Version };
    Kind kind = Kind::Run;
    const Command* alone = nullptr;  // Alone
    std::string port;                // empty: QX480_PORT names it, or nothing does
    int baud = DEFAULT_BAUD;
    bool trace = false;
    bool json = false;
    bool simulate = false;
    bool verify = false;
    int retries = 0;
    std::size_t diagramWidth = DEFAULT_DIAGRAM_WIDTH;
    std::string listen;     // panel: HOST:PORT to serve on; empty for the default
    std::string token;      // panel: the token every request must carry; empty for none given
    std::string helpTopic;  // CommandHelp
    std::vector<Step> steps;
};

// One option of the command line, as typed, explained and taken.
struct Option {
    std::string name;       // "--port"; also typed as "--port=VALUE"
    std::string shortName;  // "-p"; empty for none
    std::string value;      // what its value stands for ("PORT"); empty for a flag
    std::string help;       // its line in qx480 --help
    // Takes the value (empty for a flag); false with one line in `error`.
    bool (*take)(const std::string& value, Invocation& inv, std::string& error);
};

// Every option, in the order qx480 --help lists them.
const std::vector<Option>& Options();

// Fills `out` from the arguments (without the program name). On a usage
// error returns false with one plain line in `error`.
bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error);
// The same; on an error `errorStep` names the command the error is in, or
// is empty for an error of the line as a whole.
bool ParseCommandLine(const std::vector<std::string>& args, Invocation& out, std::string& error,
                      std::string& errorStep);

// True when --json is among the options, even on a line with a usage error.
bool AsksForJson(const std::vector<std::string>& args);

}  // namespace tool
}  // namespace qx480

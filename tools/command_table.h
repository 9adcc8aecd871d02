// The qx480 tool's commands, one row each: how a command is typed, checked,
// explained and carried out. The command line, the help and the session all
// read this one table, so a new command is one new row.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qx480 {
namespace tool {

struct Step;
struct StepReport;
struct Invocation;
class Session;

using Words = std::vector<std::string>;

struct Command {
    std::string name;  // as typed, and as messages and the help call it
    // The words after the name as the usage shows them ("CH TIME"), one per
    // argument; empty for a command without arguments.
    std::string arguments;
    // Its line in qx480 --help; empty when the usage says it all.
    std::string summary;
    // What qx480 help NAME prints after the usage line: what the command
    // does, with examples.
    std::string details;
    // Checks the arguments (one word each) and fills `step` in wire units;
    // false with one plain line in `error`. Null for a command that runs alone.
    bool (*parse)(const Words& args, Step& step, std::string& error);
    // Carries out a checked step on the session's device, putting what it
    // did or why it failed in `report`; false on a failure. Null for a
    // command that runs alone.
    bool (Session::*run)(const Step& step, StepReport& report);
    // A command that takes no other command (ports, panel): results go to
    // `out`, an error line to `err`, as `inv` asks (--json); an empty
    // inv.port stands for `environmentPort` (QX480_PORT). Returns the exit
    // status. Null for the device commands.
    int (*runAlone)(const Invocation& inv, const std::string& environmentPort, std::ostream& out, std::ostream& err);

    // How many words `arguments` has.
    std::size_t ArgumentCount() const;
    // The last word of `arguments` ("TIME" for delay); empty for none.
    std::string LastArgument() const;
    // "NAME ARGUMENTS", or the name alone.
    std::string Usage() const;
};

// Every command, in the order qx480 --help lists them.
const std::vector<Command>& Commands();

// The command called `name`; null for none.
const Command* FindCommand(const std::string& name);

}  // namespace tool
}  // namespace qx480

// The usage text and the help of each command, with examples.
#pragma once

#include <string>

namespace qx480 {
namespace tool {

// The whole usage: commands, options, exit statuses and examples, as this
// platform has them (--simulate only where the simulated device runs).
std::string UsageText();

// "qx480 1.0.0": the version of the library it runs on, which is the project's.
std::string VersionText();

// False when `command` names no command.
bool CommandHelpText(const std::string& command, std::string& text);

}  // namespace tool
}  // namespace qx480

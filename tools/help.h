// The usage text and the help of each command, with examples.
#pragma once

#include <string>

namespace qx480 {
namespace tool {

std::string UsageText(const std::string& defaultPort);

// False when `command` names no command.
bool CommandHelpText(const std::string& command, std::string& text);

}  // namespace tool
}  // namespace qx480

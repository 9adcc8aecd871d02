// The qx480 command-line tool as a function, so that tests run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qx480 {
namespace tool {

// Runs one qx480 command line (`args` without the program name): results go
// to `out`, error lines and --trace to `err`. Returns the exit status: 0
// success, 1 the port did not open or the device refused or did not answer,
// 2 a usage error.
int RunQx480(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tool
}  // namespace qx480

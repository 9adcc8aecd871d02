// The qx480 command-line tool as a function, so that tests run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qx480 {
namespace tool {

// Runs one qx480 command line (`args` without the program name): results go
// to `out`, error lines and --trace to `err`. Without --port the port is
// `environmentPort` (what QX480_PORT holds; empty for none). Returns the
// exit status of exit_status.h: 0 success, 1 standard output or a file
// could not be written, 2 a usage error, 3 the port did not open, 4 no
// valid answer, 5 a refusal, 6 a read-back that differs.
int RunQx480(const std::vector<std::string>& args, const std::string& environmentPort, std::ostream& out,
             std::ostream& err);

// The same with the port from the environment variable QX480_PORT.
int RunQx480(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tool
}  // namespace qx480

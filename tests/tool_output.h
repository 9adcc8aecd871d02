// Running the qx480 tool in-process and reading what it prints: lines and the
// columns of its tables.
#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "qx480_tool.h"

namespace tooltest {

struct Result {
    int status;
    std::string out;
    std::string err;
};

inline Result RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = qx480::tool::RunQx480(args, out, err);
    return {status, out.str(), err.str()};
}

// Lines without their ends ("\r\n" from a Windows text stream included).
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "1        10 ns      100 ns" -> {"1", "10 ns", "100 ns"}: columns are at least two spaces apart.
inline std::vector<std::string> Columns(const std::string& row) {
    std::vector<std::string> cells;
    const std::regex gap("  +");
    for (std::sregex_token_iterator it(row.begin(), row.end(), gap, -1), end; it != end; ++it) {
        if (!it->str().empty()) cells.push_back(*it);
    }
    return cells;
}

}  // namespace tooltest

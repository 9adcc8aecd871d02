// Why a step failed, as qx480 reports it: one plain line each on standard
// error, the kind that --json puts in "error", and the exit status.
#pragma once

#include <string>
#include <vector>

#include "outcome.h"

namespace qx480 {
namespace tool {

struct Failure {
    std::string kind;                // "no_answer", "refused", "usage", ...
    int exitStatus = 0;              // one of exit_status.h
    std::vector<std::string> lines;  // what happened, one line each
};

// The JSON kind of a device outcome: its status in snake case ("no_answer").
std::string FailureKind(QX480Status status);

// The exit status a failed device outcome gives.
int FailureExitStatus(QX480Status status);

// The one line that says why `what` (a step: "the delay 10 ns for channel 1")
// failed on `port`.
std::string DescribeFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what);

// The one line that says why `port` did not open at `baud` ("no such port
// /dev/ttyUSB9", "/dev/ttyUSB0 is in use by another program", ...), with
// `detail`, what a terminal server said (SerialPort::OpenFailureDetail), at its end.
std::string DescribeOpenFailure(const QX480Outcome& outcome, const std::string& port, int baud,
                                const std::string& detail = "");

// A device outcome as a failure with its line.
Failure DeviceFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what);

// A failure of the tool's own: `kind` and `exitStatus` with one line.
Failure ToolFailure(const std::string& kind, int exitStatus, const std::string& line);

}  // namespace tool
}  // namespace qx480

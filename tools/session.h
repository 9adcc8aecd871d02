// Runs checked steps on an open device and reports each outcome: what was
// set or read on `out`, one plain error line on `err`.
#pragma once

#include <ostream>
#include <string>

#include "command_line.h"
#include "qx480ddg.h"

namespace qx480 {
namespace tool {

// The one line that says why `what` (a step: "the delay 10 ns for channel 1")
// failed on `port`.
std::string DescribeFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what);

class Session {
public:
    // `portLabel` names the port in messages; `device` must be open.
    Session(QX480DDG& device, std::string portLabel, bool json, std::ostream& out, std::ostream& err);

    // Carries out a step of the command table; false after printing why it failed.
    bool Run(const Step& step);

    // What each device command does with its checked step, as the command
    // table names them: print what was set or read (set commands print
    // nothing with --json) and return true, or print why it failed and
    // return false.
    bool SetDelay(const Step& step);
    bool SetWidth(const Step& step);
    bool SetChannel(const Step& step);
    bool SetOutput(const Step& step);
    bool SetTrigger(const Step& step);
    bool SetRate(const Step& step);
    bool Fire(const Step& step);
    bool Temperature(const Step& step);
    bool Status(const Step& step);

private:
    // Prints why `what` failed, unless it did not; returns outcome.ok().
    bool Report(const QX480Outcome& outcome, const std::string& what);

    using CountsSetter = bool (QX480DDG::*)(int channel, std::uint64_t counts, QX480Outcome& outcome);

    bool SetTime(const Step& step, CountsSetter set, const char* what);

    QX480DDG& m_device;
    const std::string m_port;
    const bool m_json;
    std::ostream& m_out;
    std::ostream& m_err;
};

}  // namespace tool
}  // namespace qx480

// Runs checked steps on an open device and reports each outcome: what was
// set or read on `out`, one plain error line on `err`.
#pragma once

#include <ostream>
#include <string>

#include "command_line.h"
#include "qx480ddg.h"

namespace qx480 {
namespace tool {

class Session {
public:
    // `portLabel` names the port in messages; `device` must be open.
    Session(QX480DDG& device, std::string portLabel, bool json, std::ostream& out, std::ostream& err);

    // False after printing why the step failed.
    bool Run(const Step& step);

private:
    enum class Reply { Accepted, Refused, Silent };

    Reply SendWrite(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words);
    bool Write(const Step& step, QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
               const std::string& what);
    // Prints the line for a device that gave no valid answer; always false.
    bool ReportSilence(const std::string& what, const Step& step);
    bool Query(const Step& step, QX480Command cmd, std::size_t minimumPa, const char* what, QX480Frame& response);

    bool SetTime(const Step& step, QX480Command cmd, const char* what);
    bool SetChannel(const Step& step);
    bool SetOutput(const Step& step);
    bool SetTrigger(const Step& step);
    bool SetRate(const Step& step);
    bool Fire(const Step& step);
    bool Temperature(const Step& step);
    bool Status(const Step& step);

    QX480DDG& m_device;
    const std::string m_port;
    const bool m_json;
    std::ostream& m_out;
    std::ostream& m_err;
};

}  // namespace tool
}  // namespace qx480

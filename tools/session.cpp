#include "session.h"

#include <utility>

#include "command_table.h"
#include "report.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

const char* OnOff(bool on) { return on ? "on" : "off"; }

// Why a step failed, with {port}, {what} and {ms} filled in.
struct FailureLine {
    QX480Status status;
    const char* text;
};

constexpr FailureLine FAILURE_LINES[] = {
    {QX480Status::NoAnswer,
     "no answer from {port} within {ms} ms to {what}: is the device on, on this port, at this "
     "baud rate?"},
    {QX480Status::CorruptAnswer, "a corrupted answer from {port} to {what}: check the baud rate and the cable"},
    {QX480Status::PortFailed, "{port} failed during {what}: was it unplugged?"},
    {QX480Status::Echo, "{port} echoes requests back: a loopback plug or a local echo is in the way"},
    {QX480Status::Refused, "the device on {port} refused {what}"},
    {QX480Status::ShortAnswer, "the answer from {port} to {what} is too short to hold what was asked for"},
    {QX480Status::WriteIncomplete, "{what} could not be written to {port} within {ms} ms"},
    {QX480Status::NotOpen, "{port} is not open for {what}"},
    {QX480Status::BadArgument, "the library refused the arguments of {what}"},
};

void Fill(std::string& text, const std::string& field, const std::string& value) {
    const std::size_t at = text.find(field);
    if (at != std::string::npos) text.replace(at, field.size(), value);
}

}  // namespace

Session::Session(QX480DDG& device, std::string portLabel, bool json, std::ostream& out, std::ostream& err)
    : m_device(device), m_port(std::move(portLabel)), m_json(json), m_out(out), m_err(err) {}

bool Session::Run(const Step& step) { return (this->*step.command->run)(step); }

std::string DescribeFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what) {
    for (const FailureLine& line : FAILURE_LINES) {
        if (line.status != outcome.status) continue;
        std::string text = line.text;
        Fill(text, "{port}", port);
        Fill(text, "{what}", what);
        Fill(text, "{ms}", std::to_string(QX480DDG::TIMEOUT_MS));
        return text;
    }
    return what + " on " + port + ": " + QX480StatusText(outcome.status);
}

bool Session::Report(const QX480Outcome& outcome, const std::string& what) {
    if (!outcome.ok()) m_err << DescribeFailure(outcome, m_port, what) << "\n";
    return outcome.ok();
}

bool Session::SetDelay(const Step& step) { return SetTime(step, &QX480DDG::SetDelayCounts, "delay"); }

bool Session::SetWidth(const Step& step) { return SetTime(step, &QX480DDG::SetPulseWidthCounts, "width"); }

bool Session::SetTime(const Step& step, CountsSetter set, const char* what) {
    const std::string time = FormatTime(step.counts);
    QX480Outcome outcome;
    (m_device.*set)(step.channel, step.counts, outcome);
    if (!Report(outcome, std::string("the ") + what + " " + time + " for channel " + std::to_string(step.channel))) {
        return false;
    }
    if (!m_json) m_out << "channel " << step.channel << " " << what << " " << time << "\n";
    return true;
}

bool Session::SetChannel(const Step& step) {
    const std::string state = std::to_string(step.channel) + " " + OnOff(step.on);
    QX480Outcome outcome;
    m_device.SetOutputChannel(step.channel, step.on, outcome);
    if (!Report(outcome, "switching channel " + state)) return false;
    if (!m_json) m_out << "channel " << state << "\n";
    return true;
}

bool Session::SetOutput(const Step& step) {
    QX480Outcome outcome;
    m_device.SetGlobalOutput(step.on, outcome);
    if (!Report(outcome, std::string("switching the output ") + OnOff(step.on))) return false;
    if (!m_json) m_out << "output " << OnOff(step.on) << "\n";
    return true;
}

bool Session::SetTrigger(const Step& step) {
    const std::string mode = TriggerModeName(step.mode);
    QX480Outcome outcome;
    m_device.SetTrigger(step.mode, outcome);
    if (!Report(outcome, "the " + mode + " trigger")) return false;
    if (!m_json) m_out << "trigger " << mode << "\n";
    return true;
}

bool Session::SetRate(const Step& step) {
    const std::string rate = RateText(step.ticks);
    QX480Outcome outcome;
    m_device.SetTriggerPeriod(step.ticks, outcome);
    if (!Report(outcome, "the rate " + rate)) return false;
    if (!m_json) m_out << "rate " << rate << "\n";
    return true;
}

bool Session::Fire(const Step&) {
    QX480Outcome outcome;
    m_device.SoftwareTrigger(outcome);
    if (!Report(outcome, "the software trigger")) return false;
    if (!m_json) m_out << "fired\n";
    return true;
}

bool Session::Temperature(const Step&) {
    float celsius = 0;
    QX480Outcome outcome;
    m_device.ReadTemperature(&celsius, outcome);
    if (!Report(outcome, "the temperature query")) return false;
    if (m_json) {
        PrintTemperatureJson(m_out, m_port, celsius);
    } else {
        PrintTemperature(m_out, celsius);
    }
    return true;
}

bool Session::Status(const Step&) {
    float celsius = 0;
    TimingBlock block;
    QX480Outcome outcome;
    m_device.ReadTemperature(&celsius, outcome);
    if (!Report(outcome, "the temperature query")) return false;
    m_device.ReadTimingBlock(&block, outcome);
    if (!Report(outcome, "the timing query")) return false;
    if (m_json) {
        PrintStatusJson(m_out, m_port, celsius, block);
    } else {
        PrintStatus(m_out, m_port, celsius, block);
    }
    return true;
}

}  // namespace tool
}  // namespace qx480

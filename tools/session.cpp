#include "session.h"

#include <utility>

#include "report.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

const char* OnOff(bool on) { return on ? "on" : "off"; }

const char* TriggerName(QX480TriggerMode mode) {
    switch (mode) {
        case QX480TriggerMode::External: return "external";
        case QX480TriggerMode::Software: return "software";
        default: return "internal";
    }
}

// A 64-bit count as the two words of a time request, low half first.
std::vector<std::uint32_t> CountWords(std::uint64_t counts) {
    return {static_cast<std::uint32_t>(counts), static_cast<std::uint32_t>(counts >> 32)};
}

std::string RateText(std::uint32_t ticks) {
    return FormatRate(units::WireToFrequency(ticks)) + " (period " + std::to_string(ticks) + " x 4 ns)";
}

}  // namespace

Session::Session(QX480DDG& device, std::string portLabel, bool json, std::ostream& out, std::ostream& err)
    : m_device(device), m_port(std::move(portLabel)), m_json(json), m_out(out), m_err(err) {}

bool Session::Run(const Step& step) {
    switch (step.action) {
        case Action::Delay: return SetTime(step, QX480Command::SET_DELAY, "delay");
        case Action::Width: return SetTime(step, QX480Command::SET_PULSE_WIDTH, "width");
        case Action::Channel: return SetChannel(step);
        case Action::Output: return SetOutput(step);
        case Action::Trigger: return SetTrigger(step);
        case Action::Rate: return SetRate(step);
        case Action::Fire: return Fire(step);
        case Action::Temp: return Temperature(step);
        case Action::Status: return Status(step);
    }
    return false;
}

// The driver's commands only say true or false; the response itself tells a
// refusal (a valid frame whose option low byte is not 1) from silence.
Session::Reply Session::SendWrite(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words) {
    QX480Frame response;
    // SendFrameU32 is true exactly when a valid frame came back.
    if (!m_device.SendFrameU32(CommandCode(cmd), opt, words, &response, QX480DDG::TIMEOUT_MS)) return Reply::Silent;
    return IsWriteSuccess(response) ? Reply::Accepted : Reply::Refused;
}

bool Session::Write(const Step& step, QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                    const std::string& what) {
    switch (SendWrite(cmd, opt, words)) {
        case Reply::Accepted: return true;
        case Reply::Refused: m_err << "the device on " << m_port << " refused " << what << "\n"; return false;
        case Reply::Silent: break;
    }
    return ReportSilence(what, step);
}

bool Session::ReportSilence(const std::string& what, const Step& step) {
    m_err << "no valid response from " << m_port << " within " << QX480DDG::TIMEOUT_MS << " ms to " << what << " ("
          << step.typed << ")\n";
    return false;
}

bool Session::Query(const Step& step, QX480Command cmd, std::size_t minimumPa, const char* what, QX480Frame& response) {
    if (!m_device.SendFrame(CommandCode(cmd), option::NONE, nullptr, 0, &response, QX480DDG::TIMEOUT_MS)) {
        return ReportSilence(std::string("the ") + what + " query", step);
    }
    if (response.pa.size() < minimumPa) {
        m_err << "the " << what << " response from " << m_port << " holds " << response.pa.size()
              << " bytes, fewer than " << minimumPa << "\n";
        return false;
    }
    return true;
}

bool Session::SetTime(const Step& step, QX480Command cmd, const char* what) {
    const std::string time = FormatTime(step.counts);
    if (!Write(step, cmd, static_cast<std::uint16_t>(step.channel), CountWords(step.counts),
               std::string("the ") + what + " " + time + " for channel " + std::to_string(step.channel))) {
        return false;
    }
    if (!m_json) m_out << "channel " << step.channel << " " << what << " " << time << "\n";
    return true;
}

bool Session::SetChannel(const Step& step) {
    const std::string state = std::to_string(step.channel) + " " + OnOff(step.on);
    if (!Write(step, QX480Command::SET_CHANNEL, ChannelOpt(step.channel, step.on), {}, "switching channel " + state)) {
        return false;
    }
    if (!m_json) m_out << "channel " << state << "\n";
    return true;
}

bool Session::SetOutput(const Step& step) {
    const std::uint16_t opt = step.on ? option::OUTPUT_ENABLE : option::OUTPUT_DISABLE;
    if (!Write(step, QX480Command::SET_GLOBAL_OUTPUT, opt, {}, std::string("switching the output ") + OnOff(step.on))) {
        return false;
    }
    if (!m_json) m_out << "output " << OnOff(step.on) << "\n";
    return true;
}

bool Session::SetTrigger(const Step& step) {
    const std::string mode = TriggerName(step.mode);
    if (!Write(step, QX480Command::SET_TRIGGER, TriggerModeOpt(step.mode), {}, "the " + mode + " trigger")) {
        return false;
    }
    if (!m_json) m_out << "trigger " << mode << "\n";
    return true;
}

bool Session::SetRate(const Step& step) {
    const std::string rate = RateText(step.ticks);
    if (!Write(step, QX480Command::SET_TRIG_FREQ, option::NONE, {step.ticks}, "the rate " + rate)) return false;
    if (!m_json) m_out << "rate " << rate << "\n";
    return true;
}

bool Session::Fire(const Step& step) {
    if (!Write(step, QX480Command::SOFTWARE_TRIG, option::NONE, {}, "the software trigger")) return false;
    if (!m_json) m_out << "fired\n";
    return true;
}

bool Session::Temperature(const Step& step) {
    QX480Frame response;
    if (!Query(step, QX480Command::READ_TEMP, TEMPERATURE_SIZE, "temperature", response)) return false;
    const float celsius = response.ReadFloat(0);
    if (m_json) {
        PrintTemperatureJson(m_out, m_port, celsius);
    } else {
        PrintTemperature(m_out, celsius);
    }
    return true;
}

bool Session::Status(const Step& step) {
    QX480Frame temperature;
    QX480Frame timingResponse;
    TimingBlock block;
    if (!Query(step, QX480Command::READ_TEMP, TEMPERATURE_SIZE, "temperature", temperature) ||
        !Query(step, QX480Command::READ_TIMING, timing::BLOCK_SIZE, "timing", timingResponse) ||
        !timing::Decode(timingResponse, block)) {
        return false;
    }
    const float celsius = temperature.ReadFloat(0);
    if (m_json) {
        PrintStatusJson(m_out, m_port, celsius, block);
    } else {
        PrintStatus(m_out, m_port, celsius, block);
    }
    return true;
}

}  // namespace tool
}  // namespace qx480

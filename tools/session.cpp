#include "session.h"

#include <utility>

#include "command_table.h"
#include "platform.h"
#include "report.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

const char* OnOff(bool on) { return on ? "on" : "off"; }

std::string Joined(const std::vector<std::string>& lines, const char* between) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : between) + line;
    return text;
}

}  // namespace

Json ReportRecord(const std::string& step, const StepReport& report) {
    Json record;
    record["step"] = step.empty() ? Json(nullptr) : Json(step);
    record["ok"] = !report.failure;
    if (report.failure) {
        record["error"] = report.failure->kind;
        record["message"] = Joined(report.failure->lines, "; ");
    }
    if (report.retries > 0) record["retries"] = report.retries;
    for (const auto& field : report.fields.items()) record[field.key()] = field.value();
    return record;
}

namespace {

// A step of the command called `name`, as apply sends it.
Step StepOf(const char* name) {
    Step step;
    step.command = FindCommand(name);
    step.typed = name;
    return step;
}

Step OutputStep(bool on) {
    Step step = StepOf("output");
    step.on = on;
    return step;
}

void AddChannelSteps(const ChannelSetup& c, int channel, std::vector<Step>& steps) {
    for (const auto& time : {std::make_pair("delay", c.delay), std::make_pair("width", c.width)}) {
        if (!time.second) continue;
        Step step = StepOf(time.first);
        step.channel = channel;
        step.counts = *time.second;
        steps.push_back(step);
    }
    if (c.on) {
        Step step = StepOf("channel");
        step.channel = channel;
        step.on = *c.on;
        steps.push_back(step);
    }
}

// What apply sends for `setup`, in a safe order: the output off first when
// the file sets it and more, then the trigger source and rate, each
// channel's delay, width and on/off, and the output as the file says.
std::vector<Step> ApplySteps(const Setup& setup) {
    std::vector<Step> steps;
    const bool outputFirst = setup.output && setup.SetsMoreThanOutput();
    if (outputFirst) steps.push_back(OutputStep(false));
    if (setup.source) {
        Step step = StepOf("trigger");
        step.mode = *setup.source;
        steps.push_back(step);
    }
    if (setup.ticks) {
        Step step = StepOf("rate");
        step.ticks = *setup.ticks;
        step.requestedHz = setup.requestedHz;
        steps.push_back(step);
    }
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) AddChannelSteps(setup.channels[ChannelIndex(ch)], ch, steps);
    if (setup.output && (*setup.output || !outputFirst)) steps.push_back(OutputStep(*setup.output));
    return steps;
}

TimingValues ValuesOf(const Setup& setup) {
    TimingValues values;
    for (std::size_t i = 0; i < setup.channels.size(); ++i) {
        values.delay[i] = setup.channels[i].delay;
        values.width[i] = setup.channels[i].width;
    }
    values.ticks = setup.ticks;
    return values;
}

// Where `block` differs from `expected`: a line per field ("channel 2
// delay: sent 1.5 us, device reports 1 us", `source` being "sent") and a
// record per field.
struct Differences {
    std::vector<std::string> lines;
    Json records = Json::array();

    void Add(const std::string& key, const std::string& name, const std::string& source, const std::string& expected,
             const std::string& reported, const char* unit, std::uint64_t expectedValue, std::uint64_t reportedValue) {
        lines.push_back(name + ": " + source + " " + expected + ", device reports " + reported);
        records.push_back({{"key", key},
                           {std::string("expected_") + unit, expectedValue},
                           {std::string("device_") + unit, reportedValue}});
    }
};

void CompareTimes(const std::array<std::optional<std::uint64_t>, CHANNEL_COUNT>& expected, const TimingBlock& block,
                  std::uint64_t timing::ChannelCounts::*member, const char* field, const std::string& source,
                  Differences& d) {
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        const auto& want = expected[ChannelIndex(ch)];
        const std::uint64_t got = block.channels[ChannelIndex(ch)].*member;
        if (!want || *want == got) continue;
        const std::string channel = std::to_string(ch);
        d.Add("channels." + channel + "." + field, "channel " + channel + " " + field, source, units::FormatTime(*want),
              units::FormatTime(got), "counts", *want, got);
    }
}

Differences Compare(const TimingValues& expected, const TimingBlock& block, const std::string& source) {
    Differences d;
    CompareTimes(expected.delay, block, &timing::ChannelCounts::delay, "delay", source, d);
    CompareTimes(expected.width, block, &timing::ChannelCounts::width, "width", source, d);
    if (expected.ticks && *expected.ticks != block.triggerTicks) {
        d.Add("trigger.rate", "trigger rate", source, units::RateText(*expected.ticks),
              units::RateText(block.triggerTicks), "ticks", *expected.ticks, block.triggerTicks);
    }
    return d;
}

// Reports the differences as a mismatch; false when there are any.
bool ReportDifferences(const Differences& d, StepReport& report) {
    report.fields["differences"] = d.records;
    if (d.lines.empty()) return true;
    report.failure = Failure{"mismatch", EXIT_MISMATCH, d.lines};
    return false;
}

std::string RateDifference(const Step& step) {
    if (units::WireToFrequency(step.ticks) == step.requestedHz) return "";
    return ": the nearest the " + units::FormatNumber(units::NS_PER_TICK) + " ns period steps give to the " +
           units::FormatRate(step.requestedHz) + " asked for";
}

}  // namespace

void PrintReport(const std::string& step, const StepReport& report, bool json, std::ostream& out, std::ostream& err) {
    if (json) {
        out << JsonLine(ReportRecord(step, report)) << "\n";
    } else {
        for (const std::string& line : report.lines) out << line << "\n";
    }
    if (report.failure) {
        for (const std::string& line : report.failure->lines) err << line << "\n";
    }
}

std::size_t TimingValues::Count() const {
    std::size_t count = ticks ? 1 : 0;
    for (std::size_t i = 0; i < delay.size(); ++i) count += (delay[i] ? 1 : 0) + (width[i] ? 1 : 0);
    return count;
}

Session::Session(QX480DDG& device, std::string portLabel, const Invocation& inv, std::ostream& out, std::ostream& err)
    : m_device(device),
      m_port(std::move(portLabel)),
      m_json(inv.json),
      m_retries(inv.retries),
      m_diagramWidth(inv.diagramWidth),
      m_out(out),
      m_err(err) {}

bool Session::Run(const Step& step) {
    StepReport report;
    const bool ok = (this->*step.command->run)(step, report);
    Print(step.command->name, report);
    return ok;
}

void Session::Print(const std::string& step, const StepReport& report) {
    if (report.failure && m_exitStatus == EXIT_OK) m_exitStatus = report.failure->exitStatus;
    PrintReport(step, report, m_json, m_out, m_err);
}

bool Session::Exchange(const std::string& what, bool repeatable, StepReport& report, const Call& call) {
    for (int tries = 0;; ++tries) {
        QX480Outcome outcome;
        call(outcome);
        if (outcome.ok()) return true;
        if (!repeatable || tries == m_retries || !QX480StatusRowOf(outcome.status).retryMayHelp) {
            report.failure = DeviceFailure(outcome, m_port, what);
            return false;
        }
        ++report.retries;
        m_err << "trying again (" << tries + 1 << " of " << m_retries
              << ") after: " << DescribeFailure(outcome, m_port, what) << "\n";
    }
}

bool Session::ReadBlock(TimingBlock& block, StepReport& report) {
    return Exchange("the timing query", true, report,
                    [&](QX480Outcome& outcome) { m_device.ReadTimingBlock(&block, outcome); });
}

bool Session::SetDelay(const Step& step, StepReport& report) {
    return SetTime(step, report, &QX480DDG::SetDelayCounts, "delay", m_sent.delay);
}

bool Session::SetWidth(const Step& step, StepReport& report) {
    return SetTime(step, report, &QX480DDG::SetPulseWidthCounts, "width", m_sent.width);
}

bool Session::SetTime(const Step& step, StepReport& report, CountsSetter set, const char* what,
                      std::array<std::optional<std::uint64_t>, CHANNEL_COUNT>& sent) {
    const std::string time = units::FormatTime(step.counts);
    const std::string channel = std::to_string(step.channel);
    if (!Exchange(std::string("the ") + what + " " + time + " for channel " + channel, true, report,
                  [&](QX480Outcome& outcome) { (m_device.*set)(step.channel, step.counts, outcome); })) {
        return false;
    }
    sent[ChannelIndex(step.channel)] = step.counts;
    report.lines.push_back("channel " + channel + " " + what + " " + time);
    report.fields["channel"] = step.channel;
    report.fields["counts"] = step.counts;
    report.fields["ns"] = units::FormatNanoseconds(step.counts);
    return true;
}

bool Session::SetChannel(const Step& step, StepReport& report) {
    const std::string state = std::to_string(step.channel) + " " + OnOff(step.on);
    if (!Exchange("switching channel " + state, true, report,
                  [&](QX480Outcome& outcome) { m_device.SetOutputChannel(step.channel, step.on, outcome); })) {
        return false;
    }
    report.lines.push_back("channel " + state);
    report.fields["channel"] = step.channel;
    report.fields["on"] = step.on;
    return true;
}

bool Session::SetOutput(const Step& step, StepReport& report) {
    if (!Exchange(std::string("switching the output ") + OnOff(step.on), true, report,
                  [&](QX480Outcome& outcome) { m_device.SetGlobalOutput(step.on, outcome); })) {
        return false;
    }
    report.lines.push_back(std::string("output ") + OnOff(step.on));
    report.fields["on"] = step.on;
    return true;
}

bool Session::SetTrigger(const Step& step, StepReport& report) {
    const std::string mode = TriggerModeName(step.mode);
    if (!Exchange("the " + mode + " trigger", true, report,
                  [&](QX480Outcome& outcome) { m_device.SetTrigger(step.mode, outcome); })) {
        return false;
    }
    report.lines.push_back("trigger " + mode);
    report.fields["source"] = mode;
    return true;
}

bool Session::SetRate(const Step& step, StepReport& report) {
    const std::string rate = units::RateText(step.ticks);
    if (!Exchange("the rate " + rate, true, report,
                  [&](QX480Outcome& outcome) { m_device.SetTriggerPeriod(step.ticks, outcome); })) {
        return false;
    }
    m_sent.ticks = step.ticks;
    const std::string difference = RateDifference(step);
    report.lines.push_back("rate " + rate + difference);
    report.fields["ticks"] = step.ticks;
    report.fields["hz"] = units::WireToFrequency(step.ticks);
    report.fields["requested_hz"] = step.requestedHz;
    report.fields["exact"] = difference.empty();
    return true;
}

bool Session::Fire(const Step&, StepReport& report) {
    if (!Exchange("the software trigger", false, report,
                  [&](QX480Outcome& outcome) { m_device.SoftwareTrigger(outcome); })) {
        return false;
    }
    report.lines.push_back("fired");
    return true;
}

bool Session::Temperature(const Step&, StepReport& report) {
    float celsius = 0;
    if (!Exchange("the temperature query", true, report,
                  [&](QX480Outcome& outcome) { m_device.ReadTemperature(&celsius, outcome); })) {
        return false;
    }
    report.lines.push_back(TemperatureLine(celsius));
    report.fields = TemperatureFields(m_port, celsius);
    return true;
}

bool Session::ReadState(float& celsius, TimingBlock& block, StepReport& report) {
    return Exchange("the temperature query", true, report,
                    [&](QX480Outcome& outcome) { m_device.ReadTemperature(&celsius, outcome); }) &&
           ReadBlock(block, report);
}

bool Session::Status(const Step&, StepReport& report) {
    float celsius = 0;
    TimingBlock block;
    if (!ReadState(celsius, block, report)) return false;
    report.lines = StatusLines(m_port, celsius, block);
    report.fields = StatusFields(m_port, celsius, block);
    return true;
}

bool Session::Apply(const Step& step, StepReport& report) {
    report.fields["file"] = step.file;
    report.fields["sent"] = Json::array();
    for (const Step& sub : ApplySteps(*step.setup)) {
        StepReport part;
        const bool ok = (this->*sub.command->run)(sub, part);
        report.lines.insert(report.lines.end(), part.lines.begin(), part.lines.end());
        report.retries += part.retries;
        if (!ok) {
            report.failure = part.failure;
            return false;
        }
        Json sent;
        sent["step"] = sub.command->name;
        for (const auto& field : part.fields.items()) sent[field.key()] = field.value();
        report.fields["sent"].push_back(sent);
    }
    report.lines.push_back("applied " + step.file);
    return true;
}

bool Session::Save(const Step& step, StepReport& report) {
    TimingBlock block;
    if (!ReadBlock(block, report)) return false;
    const std::string text = SavedSetupText(block);
    std::string error;
    if (!WriteFileAtomically(step.file, text, error)) {
        report.failure = ToolFailure("file", EXIT_LOCAL, error);
        return false;
    }
    report.lines.push_back("saved the delays, widths and trigger rate of " + m_port + " to " + step.file);
    report.fields["file"] = step.file;
    report.fields["setup"] = Json::parse(text);
    return true;
}

bool Session::Diff(const Step& step, StepReport& report) {
    TimingBlock block;
    if (!ReadBlock(block, report)) return false;
    const TimingValues expected = ValuesOf(*step.setup);
    const Differences d = Compare(expected, block, step.file + " has");
    report.fields["file"] = step.file;
    report.fields["compared"] = expected.Count();
    const std::vector<std::string> unreported = step.setup->UnreportedKeys();
    report.fields["not_compared"] = unreported;
    if (!ReportDifferences(d, report)) return false;
    report.lines.push_back("the device matches " + step.file + " (" + std::to_string(expected.Count()) +
                           " values compared)");
    if (!unreported.empty()) {
        report.lines.push_back("not compared, the device does not report them: " + Joined(unreported, ", "));
    }
    return true;
}

bool Session::Diagram(const Step&, StepReport& report) {
    TimingBlock block;
    if (!ReadBlock(block, report)) return false;
    const TimingDiagram diagram = DrawDiagram(block, m_diagramWidth);
    report.lines = diagram.lines;
    report.fields["period_counts"] = units::TicksToCounts(block.triggerTicks);
    report.fields["past_period"] = diagram.pastPeriod;
    report.fields["lines"] = diagram.lines;
    return true;
}

bool Session::Verify() {
    StepReport report;
    report.fields["compared"] = m_sent.Count();
    const bool ok = m_sent.Count() == 0 ? NothingToVerify(report) : ReadBack(report);
    Print("verify", report);
    return ok;
}

bool Session::NothingToVerify(StepReport& report) {
    report.lines.push_back("verify: nothing to read back (the device reports delays, widths and the rate only)");
    return true;
}

bool Session::ReadBack(StepReport& report) {
    TimingBlock block;
    if (!ReadBlock(block, report) || !ReportDifferences(Compare(m_sent, block, "sent"), report)) return false;
    report.lines.push_back("verify: the device reports the " + std::to_string(m_sent.Count()) + " values sent");
    return true;
}

}  // namespace tool
}  // namespace qx480

// Runs checked steps on an open device and reports each: what was set or
// read on `out` (one JSON record per step with --json), why a step failed
// in one plain line each on `err`.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "failure.h"
#include "json.h"
#include "qx480ddg.h"
#include "report.h"

namespace qx480 {
namespace tool {

// What one step did, gathered before it is printed.
struct StepReport {
    std::vector<std::string> lines;  // the text for standard output, one line each
    Json fields = Json::object();    // the JSON record's fields after "step" and "ok"
    int retries = 0;                 // exchanges tried again (--retries)
    std::optional<Failure> failure;  // set when the step failed
};

// The JSON record of `report` of the step called `step` (empty: "step":
// null): "step", "ok", on a failure "error" (its kind) and "message" (its
// lines), "retries" when there were any, then the report's fields.
Json ReportRecord(const std::string& step, const StepReport& report);

// Prints `report` of the step called `step` (empty: a failure that belongs
// to no step, "step": null): the text lines or one JSON record on `out`, a
// failure's lines on `err` in either case.
void PrintReport(const std::string& step, const StepReport& report, bool json, std::ostream& out, std::ostream& err);

// The delays, widths and trigger period that were sent, or that a setup
// file names; unset where nothing was.
struct TimingValues {
    std::array<std::optional<std::uint64_t>, CHANNEL_COUNT> delay{};
    std::array<std::optional<std::uint64_t>, CHANNEL_COUNT> width{};
    std::optional<std::uint32_t> ticks;

    // How many values are set.
    std::size_t Count() const;
};

class Session {
public:
    // `portLabel` names the port in messages; `device` must be open. Takes
    // --json, --retries and --width from `inv`.
    Session(QX480DDG& device, std::string portLabel, const Invocation& inv, std::ostream& out, std::ostream& err);

    // Carries out a step of the command table and prints its report; false
    // when it failed.
    bool Run(const Step& step);

    // Reads the timing block once and compares it with every delay, width
    // and rate sent so far (--verify); prints its report, false on a
    // difference or a failed read.
    bool Verify();

    // The exit status of the first failure, EXIT_OK while there was none.
    int ExitStatus() const { return m_exitStatus; }

    // What each device command does with its checked step, as the command
    // table names them: put what was set or read in `report` and return
    // true, or why it failed and return false.
    bool SetDelay(const Step& step, StepReport& report);
    bool SetWidth(const Step& step, StepReport& report);
    bool SetChannel(const Step& step, StepReport& report);
    bool SetOutput(const Step& step, StepReport& report);
    bool SetTrigger(const Step& step, StepReport& report);
    bool SetRate(const Step& step, StepReport& report);
    bool Fire(const Step& step, StepReport& report);
    bool Temperature(const Step& step, StepReport& report);
    bool Status(const Step& step, StepReport& report);
    bool Apply(const Step& step, StepReport& report);
    bool Save(const Step& step, StepReport& report);
    bool Diff(const Step& step, StepReport& report);
    bool Diagram(const Step& step, StepReport& report);

    // Reads the timing block (all eight channels and the trigger period);
    // false with the failure in `report`.
    bool ReadBlock(TimingBlock& block, StepReport& report);
    // Reads the temperature and the timing block, as status does.
    bool ReadState(float& celsius, TimingBlock& block, StepReport& report);

private:
    using Call = std::function<void(QX480Outcome& outcome)>;
    using CountsSetter = bool (QX480DDG::*)(int channel, std::uint64_t counts, QX480Outcome& outcome);

    // One call to the device, tried again up to --retries times while it
    // gets no valid answer when `repeatable`; false with the failure in
    // `report` once it gives up.
    bool Exchange(const std::string& what, bool repeatable, StepReport& report, const Call& call);
    // Verify with nothing sent that the device reports, and with something.
    static bool NothingToVerify(StepReport& report);
    bool ReadBack(StepReport& report);
    bool SetTime(const Step& step, StepReport& report, CountsSetter set, const char* what,
                 std::array<std::optional<std::uint64_t>, CHANNEL_COUNT>& sent);
    void Print(const std::string& step, const StepReport& report);

    QX480DDG& m_device;
    const std::string m_port;
    const bool m_json;
    const int m_retries;
    const std::size_t m_diagramWidth;
    std::ostream& m_out;
    std::ostream& m_err;
    TimingValues m_sent;
    int m_exitStatus = EXIT_OK;
};

}  // namespace tool
}  // namespace qx480

#include <cstdlib>
#include <iomanip>
#include <memory>

#include "command_line.h"
#include "help.h"
#include "open_device.h"
#include "platform.h"
#include "qx480_tool.h"
#include "qx480ddg.h"
#include "session.h"
#include "simulator.h"

namespace qx480 {
namespace tool {
namespace {

// Indexed by QX480FrameDirection.
constexpr const char* TRACE_MARK[] = {"->", "<-", "<- dropped"};

void Trace(std::ostream& err, QX480FrameDirection direction, const std::uint8_t* frame, std::size_t size) {
    err << TRACE_MARK[static_cast<int>(direction)] << std::hex << std::uppercase << std::setfill('0');
    for (std::size_t i = 0; i < size; ++i) err << ' ' << std::setw(2) << unsigned{frame[i]};
    err << std::dec << std::nouppercase << std::setfill(' ') << "\n";
}

int UsageError(const std::string& step, const std::string& line, bool json, std::ostream& out, std::ostream& err) {
    return Fail(step, ToolFailure("usage", EXIT_USAGE, line), json, out, err);
}

int ShowCommandHelp(const Invocation& inv, std::ostream& out, std::ostream& err) {
    std::string text;
    if (!CommandHelpText(inv.helpTopic, text)) {
        return UsageError("", "no command " + Quoted(inv.helpTopic) + " (see qx480 --help)", inv.json, out, err);
    }
    out << text;
    return EXIT_OK;
}

// The port the steps run on: the simulated device's, --port's or the
// environment's; false, with the failure printed in `status`, for none.
bool ChoosePort(const Invocation& inv, const std::string& environmentPort, std::unique_ptr<LocalSimulator>& simulator,
                std::string& port, int& status, std::ostream& out, std::ostream& err) {
    if (inv.simulate) {
        std::string error;
        simulator = StartSimulator(error);
        if (!simulator) status = Fail("", ToolFailure("open_failed", EXIT_OPEN, error), inv.json, out, err);
        if (simulator) port = simulator->Path();
        return simulator != nullptr;
    }
    port = inv.port.empty() ? environmentPort : inv.port;
    if (!port.empty()) return true;
    status =
        UsageError("", "no port named: give --port PORT or set QX480_PORT (qx480 ports lists this machine's ports)",
                   inv.json, out, err);
    return false;
}

int RunSteps(const Invocation& inv, const std::string& environmentPort, std::ostream& out, std::ostream& err) {
    OpenedDevice opened;
    int status = EXIT_OK;
    if (!OpenDevice(inv, environmentPort, opened, status, out, err)) return status;
    Session session(opened.device, opened.port, inv, out, err);
    bool ok = true;
    for (auto step = inv.steps.begin(); ok && step != inv.steps.end(); ++step) ok = session.Run(*step);
    if (ok && inv.verify) session.Verify();
    return session.ExitStatus();
}

int RunLine(const std::vector<std::string>& args, const std::string& environmentPort, std::ostream& out,
            std::ostream& err) {
    Invocation inv;
    std::string error, errorStep;
    if (!ParseCommandLine(args, inv, error, errorStep))
        return UsageError(errorStep, error, AsksForJson(args), out, err);
    switch (inv.kind) {
        case Invocation::Kind::Usage: out << UsageText(); return EXIT_OK;
        case Invocation::Kind::Version: out << VersionText(); return EXIT_OK;
        case Invocation::Kind::CommandHelp: return ShowCommandHelp(inv, out, err);
        case Invocation::Kind::Alone: return inv.alone->runAlone(inv, environmentPort, out, err);
        case Invocation::Kind::Run: break;
    }
    return RunSteps(inv, environmentPort, out, err);
}

}  // namespace

int Fail(const std::string& step, const Failure& failure, bool json, std::ostream& out, std::ostream& err) {
    StepReport report;
    report.failure = failure;
    PrintReport(step, report, json, out, err);
    return failure.exitStatus;
}

bool OpenDevice(const Invocation& inv, const std::string& environmentPort, OpenedDevice& opened, int& status,
                std::ostream& out, std::ostream& err) {
    if (!ChoosePort(inv, environmentPort, opened.simulator, opened.port, status, out, err)) return false;
    QX480Outcome outcome;
    if (!opened.device.Open(SystemPortName(opened.port).c_str(), inv.baud, outcome)) {
        const std::string line =
            DescribeOpenFailure(outcome, opened.port, inv.baud, opened.device.Port().OpenFailureDetail());
        const Failure failure{FailureKind(outcome.status), EXIT_OPEN, {line}};
        status = Fail("", failure, inv.json, out, err);
        return false;
    }
    if (inv.trace) {
        opened.device.SetFrameObserver(
            [&err](QX480FrameDirection d, const std::uint8_t* frame, std::size_t size) { Trace(err, d, frame, size); });
    }
    return true;
}

int RunQx480(const std::vector<std::string>& args, const std::string& environmentPort, std::ostream& out,
             std::ostream& err) {
    const int status = RunLine(args, environmentPort, out, err);
    out.flush();
    if (out) return status;
    err << "cannot write the results to standard output: is the disk full or the pipe closed?\n";
    return status == EXIT_OK ? EXIT_LOCAL : status;
}

int RunQx480(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const char* port = std::getenv("QX480_PORT");
    return RunQx480(args, port == nullptr ? "" : port, out, err);
}

}  // namespace tool
}  // namespace qx480

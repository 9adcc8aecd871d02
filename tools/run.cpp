#include <iomanip>
#include <memory>

#include "command_line.h"
#include "help.h"
#include "platform.h"
#include "qx480_tool.h"
#include "qx480ddg.h"
#include "session.h"

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

int ShowHelp(const Invocation& inv, std::ostream& out, std::ostream& err) {
    if (inv.kind == Invocation::Kind::Usage) {
        out << UsageText(DefaultPortName());
        return EXIT_OK;
    }
    std::string text;
    if (!CommandHelpText(inv.helpTopic, text)) {
        err << "no command '" << inv.helpTopic << "' (see qx480 --help)\n";
        return EXIT_USAGE;
    }
    out << text;
    return EXIT_OK;
}

// Opens the port before anything is sent, so that a port that is missing or
// in use is reported as such and not as a silent device.
int RunSteps(const Invocation& inv, std::ostream& out, std::ostream& err) {
    std::unique_ptr<LocalSimulator> simulator;
    std::string port = inv.port.empty() ? DefaultPortName() : inv.port;
    if (inv.simulate) {
        if (!HasSimulator()) {
            err << "--simulate is not available here: the simulated device runs on Linux and other POSIX "
                   "systems; name a real port with --port\n";
            return EXIT_USAGE;
        }
        std::string error;
        simulator = StartSimulator(error);
        if (!simulator) {
            err << error << "\n";
            return EXIT_DEVICE;
        }
        port = simulator->Path();
    }
    QX480DDG device;
    if (!device.Open(SystemPortName(port).c_str(), inv.baud)) {
        err << DescribeOpenFailure(port, inv.baud) << "\n";
        return EXIT_DEVICE;
    }
    if (inv.trace) {
        device.SetFrameObserver(
            [&err](QX480FrameDirection d, const std::uint8_t* frame, std::size_t size) { Trace(err, d, frame, size); });
    }
    Session session(device, port, inv.json, out, err);
    for (const Step& step : inv.steps) {
        if (!session.Run(step)) return EXIT_DEVICE;
    }
    return EXIT_OK;
}

}  // namespace

int RunQx480(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Invocation inv;
    std::string error;
    if (!ParseCommandLine(args, inv, error)) {
        err << error << "\n";
        return EXIT_USAGE;
    }
    switch (inv.kind) {
        case Invocation::Kind::Usage:
        case Invocation::Kind::CommandHelp: return ShowHelp(inv, out, err);
        case Invocation::Kind::Alone: return inv.alone->runAlone(out, err);
        case Invocation::Kind::Run: break;
    }
    return RunSteps(inv, out, err);
}

}  // namespace tool
}  // namespace qx480

#include "command_table.h"

#include <memory>
#include <sstream>

#include "command_line.h"
#include "commands.h"
#include "panel_server.h"
#include "port_list.h"
#include "session.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

bool ParseNothing(const Words&, Step&, std::string&) { return true; }

bool ParseDelay(const Words& args, Step& step, std::string& error) {
    return ParseChannel(args[0], step.channel, error) && ParseTimeWord(args[1], "delay", step.counts, error);
}

bool ParseWidth(const Words& args, Step& step, std::string& error) {
    return ParseChannel(args[0], step.channel, error) && ParseTimeWord(args[1], "width", step.counts, error);
}

bool ParseChannelSwitch(const Words& args, Step& step, std::string& error) {
    return ParseChannel(args[0], step.channel, error) && ParseOnOff(args[1], "channel " + args[0], step.on, error);
}

bool ParseOutput(const Words& args, Step& step, std::string& error) {
    return ParseOnOff(args[0], "output", step.on, error);
}

bool ParseTrigger(const Words& args, Step& step, std::string& error) {
    return ParseTriggerSource(args[0], step.mode, error);
}

bool ParseRateArgument(const Words& args, Step& step, std::string& error) {
    return ParseRateWord(args[0], step.ticks, step.requestedHz, error);
}

// A setup file, read and checked now, before any port is opened.
bool ParseSetupArgument(const Words& args, Step& step, std::string& error) {
    Setup setup;
    if (!ReadSetupFile(args[0], setup, error)) return false;
    step.file = args[0];
    step.setup = std::make_shared<const Setup>(setup);
    return true;
}

bool ParseSaveArgument(const Words& args, Step& step, std::string&) {
    step.file = args[0];
    return true;
}

int ListThePorts(const Invocation& inv, const std::string&, std::ostream& out, std::ostream& err) {
    std::vector<PortInfo> ports;
    std::string error;
    if (!SerialPorts(ports, error)) {
        StepReport report;
        report.failure = ToolFailure("ports", EXIT_LOCAL, error);
        PrintReport("ports", report, inv.json, out, err);
        return EXIT_LOCAL;
    }
    for (const PortInfo& port : ports) {
        StepReport report;
        report.lines.push_back(PortLine(port));
        report.fields = PortRecord(port);
        PrintReport("ports", report, inv.json, out, err);
    }
    if (ports.empty() && !inv.json) out << "no serial ports found\n";
    return EXIT_OK;
}

std::vector<Command> MakeCommands() {
    return {
        {"status", "", "temperature, trigger rate and all eight channels",
         "Reads the temperature and the whole timing block (one query for all eight channels)\n"
         "and prints the internal trigger rate, the device words and bytes, and a table of each\n"
         "channel's delay, width and the two other per-channel times. With --json, one JSON object.\n"
         "example: qx480 --port /dev/ttyUSB0 status\n"
         "example: qx480 --json --port COM3 status\n",
         ParseNothing, &Session::Status, nullptr},
        {"delay", "CH TIME", "channel delay (TIME: 10ns, 1.5us, 0.01ns, 1e3ns, ...)",
         "Sets the delay of channel CH (1 to 8). TIME is one word: a number with an optional unit\n"
         "ps, ns (the default), us (or µs), ms or s; decimals and exponents are allowed. The device\n"
         "steps in 10 ps: a time that is not a whole number of 10 ps is refused, never rounded,\n"
         "and the two nearest times that would work are named.\n"
         "example: qx480 delay 1 10ns\n"
         "example: qx480 delay 2 1.5us\n"
         "example: qx480 delay 3 0.01ns    (one 10 ps step)\n"
         "example: qx480 delay 4 1e3ns     (1 us)\n",
         ParseDelay, &Session::SetDelay, nullptr},
        {"width", "CH TIME", "channel pulse width",
         "Sets the pulse width of channel CH (1 to 8). TIME as for delay.\n"
         "example: qx480 width 1 100ns\n"
         "example: qx480 width 8 2.25us\n",
         ParseWidth, &Session::SetWidth, nullptr},
        {"channel", "CH on|off", "one channel's output",
         "Switches the output of channel CH (1 to 8) on or off.\n"
         "example: qx480 channel 1 on\n",
         ParseChannelSwitch, &Session::SetChannel, nullptr},
        {"output", "on|off", "the global output",
         "Switches the global output on or off.\n"
         "example: qx480 output on\n",
         ParseOutput, &Session::SetOutput, nullptr},
        {"trigger", TriggerModeNames("|", "|"), "",
         "Chooses the trigger source.\n"
         "example: qx480 trigger external\n"
         "example: qx480 trigger software fire\n",
         ParseTrigger, &Session::SetTrigger, nullptr},
        {"rate", "FREQ", "internal trigger rate (FREQ: 1000, 10kHz, 2.5MHz)",
         "Sets the internal trigger rate. FREQ is one word: a number with an optional unit Hz (the\n"
         "default), kHz or MHz. The device counts the period in whole 4 ns ticks (at or below\n"
         "1/FREQ), so the rate set can lie a little above FREQ; the tool prints the rate the device\n"
         "got and says so when it differs from FREQ.\n"
         "example: qx480 rate 1kHz\n"
         "example: qx480 rate 3MHz        (gets 3.01204819 MHz, a period of 83 ticks)\n",
         ParseRateArgument, &Session::SetRate, nullptr},
        {"fire", "", "one software trigger",
         "Fires one software trigger. It is never tried again (--retries), so that one request\n"
         "cannot fire twice.\n"
         "example: qx480 trigger software fire\n",
         ParseNothing, &Session::Fire, nullptr},
        {"temp", "", "device temperature",
         "Prints the device temperature in degrees Celsius (with --json, one JSON object).\n"
         "example: qx480 temp\n",
         ParseNothing, &Session::Temperature, nullptr},
        {"apply", "FILE", "send a whole setup file",
         "Sends the setup in FILE (JSON; see the README for the format). The whole file is checked\n"
         "before anything is sent. The order is safe: the global output off first when the file\n"
         "sets it, then the trigger source and rate, each channel's delay, width and on/off, and\n"
         "the output as the file says. Settings the file leaves out are not touched.\n"
         "example: qx480 --port /dev/ttyUSB0 apply setup.json\n"
         "example: qx480 --port COM3 --verify apply setup.json\n",
         ParseSetupArgument, &Session::Apply, nullptr},
        {"save", "FILE", "write what the device reports to a setup file",
         "Reads the timing block and writes the delays, widths and trigger rate to FILE as a setup\n"
         "file, in one piece: a file that was there stays whole until the new one replaces it. The\n"
         "device does not report the output, the trigger source or the channels' on/off, so the\n"
         "file leaves them out and says so in its note.\n"
         "example: qx480 --port /dev/ttyUSB0 save setup.json\n",
         ParseSaveArgument, &Session::Save, nullptr},
        {"diff", "FILE", "compare the device with a setup file",
         "Reads the timing block and compares each delay, width and the rate that FILE names with\n"
         "what the device reports: one line per difference and exit status 6, or exit status 0.\n"
         "example: qx480 --port /dev/ttyUSB0 diff setup.json\n",
         ParseSetupArgument, &Session::Diff, nullptr},
        {"diagram", "", "a text timing diagram of the eight channels",
         "Reads the timing block and draws each channel's pulse (its delay, then its width) on one\n"
         "time axis, with the scale and the trigger period marked, and names the channels whose\n"
         "pulse extends past the trigger period. --width COLUMNS sets its width (default 80).\n"
         "example: qx480 --port /dev/ttyUSB0 diagram\n"
         "example: qx480 --port COM3 --width 120 diagram\n",
         ParseNothing, &Session::Diagram, nullptr},
        {"ports", "", "the serial ports of this machine",
         "Lists the serial ports of this machine, one per line, with what tells them apart: on\n"
         "Linux the USB vendor and product id, the serial number, manufacturer and product of a\n"
         "USB adapter and the driver; on Windows the friendly name and hardware id. With --json,\n"
         "one JSON object per port.\n"
         "example: qx480 ports\n"
         "example: qx480 --json ports\n",
         nullptr, nullptr, ListThePorts},
        {"panel", "", "a front panel in the browser",
         "Serves a page that shows and sets the whole device (each channel's delay, width and\n"
         "on/off, the trigger source and rate, the output, a Fire button, the temperature and the\n"
         "timing diagram), and a JSON interface (see the README), until interrupted. The first\n"
         "line printed is the page's URL. It serves only this machine (127.0.0.1:8480) unless\n"
         "--listen names another address, and then only requests that carry the token (--token,\n"
         "or one made up and printed in the URL).\n"
         "example: qx480 --port /dev/ttyUSB0 panel\n"
         "example: qx480 --port COM3 --listen 192.168.1.20:8480 --token my-long-token panel\n",
         nullptr, nullptr, RunPanel},
    };
}

}  // namespace

std::size_t Command::ArgumentCount() const {
    std::istringstream words(arguments);
    std::size_t count = 0;
    for (std::string word; words >> word;) ++count;
    return count;
}

std::string Command::LastArgument() const {
    const std::size_t space = arguments.find_last_of(' ');
    return space == std::string::npos ? arguments : arguments.substr(space + 1);
}

std::string Command::Usage() const { return arguments.empty() ? name : name + " " + arguments; }

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = MakeCommands();
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands()) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

}  // namespace tool
}  // namespace qx480

#include "command_table.h"

#include <climits>
#include <iterator>
#include <sstream>

#include "command_line.h"
#include "commands.h"
#include "platform.h"
#include "session.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

// The trigger modes' names with `between` between them and `beforeLast` before the last one.
std::string TriggerModeNames(const char* between, const char* beforeLast) {
    std::string text;
    const std::size_t count = std::size(TRIGGER_MODES);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += i + 1 == count ? beforeLast : between;
        text += TRIGGER_MODES[i].name;
    }
    return text;
}

bool ParseChannel(const std::string& text, int& channel, std::string& error) {
    long long value;
    if (!ParseWhole(text, INT_MAX, value)) {
        error = "channel " + Quoted(text) + " is not a number from 1 to " + std::to_string(CHANNEL_COUNT);
        return false;
    }
    if (!IsChannel(static_cast<int>(value))) {
        error = "channel " + text + " is outside 1 to " + std::to_string(CHANNEL_COUNT);
        return false;
    }
    channel = static_cast<int>(value);
    return true;
}

bool ParseOnOff(const std::string& text, const std::string& what, bool& on, std::string& error) {
    if (text == "on" || text == "off") {
        on = text == "on";
        return true;
    }
    error = what + " takes on or off, not " + Quoted(text);
    return false;
}

std::string TimeError(UnitError e, const std::string& what, const std::string& text) {
    const std::string subject = what + " " + Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::NotWholeStep: return subject + " is not a whole number of " + FormatTime(1) + " steps";
        case UnitError::TooLarge:
            return subject + " is beyond the longest time the device takes, " + FormatTime(UINT64_MAX);
        case UnitError::UnknownUnit: return subject + " has an unknown unit: use ps, ns (the default), us, ms or s";
        default: return subject + " is not a time: give a number with ps, ns (the default), us, ms or s";
    }
}

std::string RateError(UnitError e, const std::string& text) {
    const std::string subject = "rate " + Quoted(text);
    switch (e) {
        case UnitError::Negative: return subject + " is negative";
        case UnitError::Zero: return subject + " is zero: give a rate above 0 Hz";
        case UnitError::TooFast:
            return subject + " is above " + FormatRate(units::WireToFrequency(1)) + ", the fastest the device's " +
                   FormatNumber(units::NS_PER_TICK) + " ns period steps reach";
        case UnitError::TooSlow:
            return subject + " is below " + FormatRate(units::WireToFrequency(UINT32_MAX)) +
                   ", the slowest the device's period reaches";
        case UnitError::UnknownUnit: return subject + " has an unknown unit: use Hz (the default), kHz or MHz";
        default: return subject + " is not a rate: give a number with Hz (the default), kHz or MHz";
    }
}

bool ParseNothing(const Words&, Step&, std::string&) { return true; }

bool ParseChannelTime(const Words& args, Step& step, std::string& error, const char* what) {
    if (!ParseChannel(args[0], step.channel, error)) return false;
    const UnitError e = ParseTime(args[1], step.counts);
    if (e == UnitError::None) return true;
    error = TimeError(e, what, args[1]);
    return false;
}

bool ParseDelay(const Words& args, Step& step, std::string& error) {
    return ParseChannelTime(args, step, error, "delay");
}

bool ParseWidth(const Words& args, Step& step, std::string& error) {
    return ParseChannelTime(args, step, error, "width");
}

bool ParseChannelSwitch(const Words& args, Step& step, std::string& error) {
    return ParseChannel(args[0], step.channel, error) && ParseOnOff(args[1], "channel " + args[0], step.on, error);
}

bool ParseOutput(const Words& args, Step& step, std::string& error) {
    return ParseOnOff(args[0], "output", step.on, error);
}

bool ParseTrigger(const Words& args, Step& step, std::string& error) {
    if (TriggerModeByName(args[0], step.mode)) return true;
    error = "trigger takes " + TriggerModeNames(", ", " or ") + ", not " + Quoted(args[0]);
    return false;
}

bool ParseRateArgument(const Words& args, Step& step, std::string& error) {
    const UnitError e = ParseRate(args[0], step.ticks);
    if (e == UnitError::None) return true;
    error = RateError(e, args[0]);
    return false;
}

int ListThePorts(std::ostream& out, std::ostream& err) {
    std::string error;
    if (ListPorts(out, error)) return EXIT_OK;
    err << error << "\n";
    return EXIT_DEVICE;
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
         "Sets the delay of channel CH (1 to 8). TIME is a number with an optional unit ps, ns\n"
         "(the default), us (or µs), ms or s; decimals and exponents are allowed. The device steps\n"
         "in 10 ps: a time that is not a whole number of 10 ps is refused, never rounded.\n"
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
         "Sets the internal trigger rate. FREQ is a number with an optional unit Hz (the default),\n"
         "kHz or MHz. The device counts the period in whole 4 ns ticks (at or below 1/FREQ), so the\n"
         "rate set can lie a little above FREQ; the tool prints the rate the device got.\n"
         "example: qx480 rate 1kHz\n"
         "example: qx480 rate 2.5MHz\n",
         ParseRateArgument, &Session::SetRate, nullptr},
        {"fire", "", "one software trigger",
         "Fires one software trigger.\n"
         "example: qx480 trigger software fire\n",
         ParseNothing, &Session::Fire, nullptr},
        {"temp", "", "device temperature",
         "Prints the device temperature in degrees Celsius (with --json, one JSON object).\n"
         "example: qx480 temp\n",
         ParseNothing, &Session::Temperature, nullptr},
        {"ports", "", "the serial ports of this machine",
         "Lists the serial ports of this machine, one per line: on Linux the /dev/serial/by-id\n"
         "names with the device each points to, then the ttyS, ttyUSB and ttyACM devices;\n"
         "on Windows the COM ports the registry lists.\n",
         nullptr, nullptr, ListThePorts},
    };
}

}  // namespace

std::size_t Command::ArgumentCount() const {
    std::istringstream words(arguments);
    std::size_t count = 0;
    for (std::string word; words >> word;) ++count;
    return count;
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

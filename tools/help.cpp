#include "help.h"

namespace qx480 {
namespace tool {
namespace {

struct CommandHelp {
    const char* name;
    const char* text;
};

const CommandHelp kHelp[] = {
    {"ports",
     "usage: qx480 ports\n"
     "Lists the serial ports of this machine, one per line: on Linux the /dev/serial/by-id\n"
     "names with the device each points to, then the ttyS, ttyUSB and ttyACM devices;\n"
     "on Windows the COM ports the registry lists.\n"},
    {"status",
     "usage: qx480 status\n"
     "Reads the temperature and the whole timing block (one query for all eight channels)\n"
     "and prints the internal trigger rate, the device words and bytes, and a table of each\n"
     "channel's delay, width and the two other per-channel times. With --json, one JSON object.\n"
     "example: qx480 --port /dev/ttyUSB0 status\n"
     "example: qx480 --json --port COM3 status\n"},
    {"delay",
     "usage: qx480 delay CH TIME\n"
     "Sets the delay of channel CH (1 to 8). TIME is a number with an optional unit ps, ns\n"
     "(the default), us (or µs), ms or s; decimals and exponents are allowed. The device steps\n"
     "in 10 ps: a time that is not a whole number of 10 ps is refused, never rounded.\n"
     "example: qx480 delay 1 10ns\n"
     "example: qx480 delay 2 1.5us\n"
     "example: qx480 delay 3 0.01ns    (one 10 ps step)\n"
     "example: qx480 delay 4 1e3ns     (1 us)\n"},
    {"width",
     "usage: qx480 width CH TIME\n"
     "Sets the pulse width of channel CH (1 to 8). TIME as for delay.\n"
     "example: qx480 width 1 100ns\n"
     "example: qx480 width 8 2.25us\n"},
    {"channel",
     "usage: qx480 channel CH on|off\n"
     "Switches the output of channel CH (1 to 8) on or off.\n"
     "example: qx480 channel 1 on\n"},
    {"output",
     "usage: qx480 output on|off\n"
     "Switches the global output on or off.\n"
     "example: qx480 output on\n"},
    {"trigger",
     "usage: qx480 trigger internal|external|software\n"
     "Chooses the trigger source.\n"
     "example: qx480 trigger external\n"
     "example: qx480 trigger software fire\n"},
    {"rate",
     "usage: qx480 rate FREQ\n"
     "Sets the internal trigger rate. FREQ is a number with an optional unit Hz (the default),\n"
     "kHz or MHz. The device counts the period in whole 4 ns ticks (at or below 1/FREQ), so the\n"
     "rate set can lie a little above FREQ; the tool prints the rate the device got.\n"
     "example: qx480 rate 1kHz\n"
     "example: qx480 rate 2.5MHz\n"},
    {"fire",
     "usage: qx480 fire\n"
     "Fires one software trigger.\n"
     "example: qx480 trigger software fire\n"},
    {"temp",
     "usage: qx480 temp\n"
     "Prints the device temperature in degrees Celsius (with --json, one JSON object).\n"
     "example: qx480 temp\n"},
};

}  // namespace

std::string UsageText(const std::string& defaultPort) {
    return "usage: qx480 [--port NAME] [--baud N] [--trace] [--json] COMMAND [ARGS] [COMMAND [ARGS] ...]\n"
           "       qx480 --simulate [--trace] [--json] COMMAND [ARGS] ...\n"
           "       qx480 ports\n"
           "       qx480 help COMMAND\n"
           "\n"
           "Runs the commands in order on one open port and stops at the first failure.\n"
           "\n"
           "commands:\n"
           "  status                          temperature, trigger rate and all eight channels\n"
           "  delay CH TIME                   channel delay (TIME: 10ns, 1.5us, 0.01ns, 1e3ns, ...)\n"
           "  width CH TIME                   channel pulse width\n"
           "  channel CH on|off               one channel's output\n"
           "  output on|off                   the global output\n"
           "  trigger internal|external|software\n"
           "  rate FREQ                       internal trigger rate (FREQ: 1000, 10kHz, 2.5MHz)\n"
           "  fire                            one software trigger\n"
           "  temp                            device temperature\n"
           "  ports                           the serial ports of this machine\n"
           "\n"
           "options:\n"
           "  --port NAME    the serial port (default " +
           defaultPort +
           "); on Windows COM1 to COM256\n"
           "  --baud N       line speed (default 115200)\n"
           "  --simulate     talk to the built-in simulated device instead of a port (Linux and\n"
           "                 other POSIX systems)\n"
           "  --trace        print each frame sent (->) and received (<-) in hex on standard error\n"
           "  --json         print status and temp as one JSON object per line\n"
           "  --help         this text; qx480 help COMMAND shows one command with examples\n"
           "\n"
           "exit status: 0 success, 1 the port could not be opened or the device refused or did not\n"
           "answer, 2 a usage error.\n"
           "\n"
           "examples:\n"
           "  qx480 --port /dev/ttyUSB0 delay 1 10ns width 1 100ns channel 1 on output on status\n"
           "  qx480 --port COM12 trigger software fire\n"
           "  qx480 --simulate --json status\n";
}

bool CommandHelpText(const std::string& command, std::string& text) {
    for (const CommandHelp& h : kHelp) {
        if (command == h.name) {
            text = h.text;
            return true;
        }
    }
    return false;
}

}  // namespace tool
}  // namespace qx480

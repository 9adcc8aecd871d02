// What the qx480 tool needs from the operating system: the port list, the
// name the system opens a port by, why a port would not open, and the
// built-in simulated device. One implementation per platform
// (platform_posix.cpp, platform_win32.cpp).
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qx480 {
namespace tool {

// The port used when --port is not given.
std::string DefaultPortName();

// The name to open: on Windows COM1 to COM256 get the "\\.\" prefix that
// names above COM9 need; everything else goes through unchanged.
std::string SystemPortName(const std::string& port);

// "\\.\COMn" for "COMn" (any case, n from 1 to 256 without leading zeros), else `port` itself.
std::string WindowsDevicePath(const std::string& port);

// Writes one line per serial port to `out`. False, with one line in
// `error`, when the list cannot be read.
bool ListPorts(std::ostream& out, std::string& error);

// One line saying why `port` did not open at `baud` ("no such port
// /dev/ttyUSB9", "/dev/ttyUSB0 is in use by another program", ...).
std::string DescribeOpenFailure(const std::string& port, int baud);

// The program's arguments (without its name) in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The built-in simulated device, served from a thread of this process.
class LocalSimulator {
public:
    virtual ~LocalSimulator() = default;
    // The path a host opens.
    virtual std::string Path() const = 0;
};

// False on Windows: the simulated device needs a POSIX pseudo-terminal.
bool HasSimulator();

// Null with one line in `error` when the device cannot be started.
std::unique_ptr<LocalSimulator> StartSimulator(std::string& error);

}  // namespace tool
}  // namespace qx480

// Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform.h"
#include "simulated_device.h"

namespace qx480 {
namespace tool {
namespace {

namespace fs = std::filesystem;

const char* const kSerialPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

// "ttyUSB12" -> ("ttyUSB", 12) for one of the serial prefixes; false otherwise.
bool SplitSerialName(const std::string& name, std::string& prefix, long& number) {
    for (const char* p : kSerialPrefixes) {
        const std::string candidate = p;
        const std::string digits = name.substr(std::min(name.size(), candidate.size()));
        if (name.compare(0, candidate.size(), candidate) != 0 || digits.empty() || digits.size() > 6 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        prefix = candidate;
        number = std::stol(digits);
        return true;
    }
    return false;
}

// Linux creates ttyS nodes for every possible legacy UART; sysfs reports
// type 0 (no UART) for the ones with nothing behind them.
bool IsPlaceholderUart(const std::string& name) {
    if (name.compare(0, 4, "ttyS") != 0) return false;
    std::ifstream type("/sys/class/tty/" + name + "/type");
    int value = -1;
    return type >> value && value == 0;
}

void ListById(std::ostream& out) {
    std::error_code ec;
    std::vector<std::string> lines;
    for (fs::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path target = fs::canonical(it->path(), ec);
        lines.push_back(it->path().string() + " -> " + (ec ? std::string("(dangling)") : target.string()));
        ec.clear();
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) out << line << "\n";
}

void ListDevices(std::ostream& out) {
    struct Device {
        std::string prefix;
        long number;
        std::string path;
    };
    std::vector<Device> devices;
    std::error_code ec;
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        Device d;
        if (SplitSerialName(name, d.prefix, d.number) && !IsPlaceholderUart(name)) {
            d.path = it->path().string();
            devices.push_back(d);
        }
    }
    std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.number < b.number;
    });
    for (const Device& d : devices) out << d.path << "\n";
}

class PtySimulator : public LocalSimulator {
public:
    bool Start(std::string& error) {
        if (m_device.Start()) return true;
        error = "could not start the simulated device: " + m_device.Error();
        return false;
    }
    std::string Path() const override { return m_device.Path(); }

private:
    sim::SimulatedDevice m_device;
};

}  // namespace

std::string DefaultPortName() { return "/dev/ttyUSB0"; }

std::string SystemPortName(const std::string& port) { return port; }

bool ListPorts(std::ostream& out, std::string&) {
    ListById(out);
    ListDevices(out);
    return true;
}

// Repeats the steps of the serial backend's open (open, then the exclusive
// lock) to find the one that fails; the probe takes no lock it keeps.
std::string DescribeOpenFailure(const std::string& port, int baud) {
    const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return "no such port " + port;
        if (error == EBUSY) return port + " is in use by another program";
        if (error == EACCES) return "no permission to open " + port + " (is your user in the dialout group?)";
        return "cannot open " + port + ": " + std::strerror(error);
    }
    std::string why;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = port + " is in use by another program";
    } else if (!isatty(fd)) {
        why = port + " is not a serial port";
    } else {
        why = "cannot set up " + port + " at " + std::to_string(baud) + " baud, 8 data bits, no parity, 1 stop bit";
    }
    close(fd);
    return why;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

bool HasSimulator() { return true; }

std::unique_ptr<LocalSimulator> StartSimulator(std::string& error) {
    auto simulator = std::make_unique<PtySimulator>();
    if (!simulator->Start(error)) return nullptr;
    return simulator;
}

}  // namespace tool
}  // namespace qx480

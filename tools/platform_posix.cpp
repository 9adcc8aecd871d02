// Linux and other POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform.h"
#include "port_list.h"

namespace qx480 {
namespace tool {
namespace {

namespace fs = std::filesystem;

const char* const kSerialPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};

// How far above a tty's sysfs device its USB device may sit (interface, then device).
constexpr int MAX_USB_LEVELS = 4;

// Names tried for a temporary file before giving up.
constexpr int TEMPORARY_NAME_TRIES = 100;

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

// The first line of a sysfs attribute; empty when there is none.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Linux creates ttyS nodes for every possible legacy UART; sysfs reports
// type 0 (no UART) for the ones with nothing behind them.
bool IsPlaceholderUart(const fs::path& sysTty, const std::string& name) {
    return name.compare(0, 4, "ttyS") == 0 && Attribute(sysTty / name / "type") == "0";
}

// The USB device a tty hangs off: the nearest folder above its sysfs device
// with a vendor id.
void ReadUsbAdapter(const fs::path& device, PortInfo& port) {
    std::error_code ec;
    fs::path at = fs::canonical(device, ec);
    for (int level = 0; !ec && level <= MAX_USB_LEVELS && at.has_relative_path(); ++level, at = at.parent_path()) {
        if (!fs::exists(at / "idVendor", ec)) continue;
        port.usbVendorId = Attribute(at / "idVendor");
        port.usbProductId = Attribute(at / "idProduct");
        port.usbSerial = Attribute(at / "serial");
        port.usbManufacturer = Attribute(at / "manufacturer");
        port.usbProduct = Attribute(at / "product");
        return;
    }
}

void ReadSysfs(const fs::path& sysTty, const std::string& name, PortInfo& port) {
    const fs::path device = sysTty / name / "device";
    std::error_code ec;
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec) port.driver = driver.filename().string();
    ReadUsbAdapter(device, port);
}

// The /dev/serial/by-id names by the device each points to.
std::map<fs::path, std::string> ByIdNames(const fs::path& byId) {
    std::map<fs::path, std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code target;
        const fs::path device = fs::canonical(it->path(), target);
        if (!target) names[device] = it->path().string();
    }
    return names;
}

bool WriteAll(int fd, const std::string& content) {
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside `path` that no one else has; -1 with errno set when none could be made.
int CreateTemporaryBeside(const std::string& path, std::string& temporary) {
    for (int n = 0; n < TEMPORARY_NAME_TRIES; ++n) {
        temporary = path + ".qx480-" + std::to_string(getpid()) + "-" + std::to_string(n);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The temporary file keeps the mode of the file it replaces.
bool KeepMode(int fd, const std::string& path) {
    struct stat old;
    return stat(path.c_str(), &old) != 0 || fchmod(fd, old.st_mode & 07777) == 0;
}

bool WriteTemporary(int fd, const std::string& path, const std::string& content) {
    const bool written = KeepMode(fd, path) && WriteAll(fd, content) && fsync(fd) == 0;
    const int error = errno;
    const bool closed = close(fd) == 0;
    if (!written) errno = error;
    return written && closed;
}

}  // namespace

std::vector<PortInfo> SerialPortsUnder(const std::string& root) {
    const fs::path dev = fs::path(root) / "dev";
    const fs::path sysTty = fs::path(root) / "sys" / "class" / "tty";
    const std::map<fs::path, std::string> byId = ByIdNames(dev / "serial" / "by-id");
    struct Found {
        std::string prefix;
        long number;
        PortInfo port;
    };
    std::vector<Found> found;
    std::error_code ec;
    for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        Found f;
        if (!SplitSerialName(name, f.prefix, f.number) || IsPlaceholderUart(sysTty, name)) continue;
        f.port.path = it->path().string();
        std::error_code canonical;
        const auto named = byId.find(fs::canonical(it->path(), canonical));
        if (!canonical && named != byId.end()) f.port.byId = named->second;
        ReadSysfs(sysTty, name, f.port);
        found.push_back(f);
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.number < b.number;
    });
    std::vector<PortInfo> ports;
    for (const Found& f : found) ports.push_back(f.port);
    return ports;
}

bool SerialPorts(std::vector<PortInfo>& ports, std::string&) {
    ports = SerialPortsUnder("/");
    return true;
}

std::string ExamplePortName() { return "/dev/ttyUSB0"; }

std::string SystemPortName(const std::string& port) { return port; }

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

void PrepareConsole() {}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
    std::string temporary;
    const int fd = CreateTemporaryBeside(path, temporary);
    if (fd >= 0 && WriteTemporary(fd, path, content) && rename(temporary.c_str(), path.c_str()) == 0) return true;
    error = "cannot write " + path + ": " + std::strerror(errno);
    if (fd >= 0) unlink(temporary.c_str());
    return false;
}

}  // namespace tool
}  // namespace qx480

// POSIX backend of SerialPort: a termios tty opened non-blocking and held
// exclusively, in raw mode; reads and writes wait in poll() against one
// deadline on the monotonic clock.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "network_line.h"
#include "serial_port.h"
#ifdef __linux__
#include <linux/serial.h>

#include "custom_baud_linux.h"
#endif

namespace {

#ifdef CMSPAR
constexpr tcflag_t STICK_PARITY = CMSPAR;
#else
constexpr tcflag_t STICK_PARITY = 0;
#endif

// The c_cflag bits that Open sets and checks.
constexpr tcflag_t LINE_FLAGS = CSIZE | CSTOPB | PARENB | PARODD | STICK_PARITY | CLOCAL | CREAD | CRTSCTS;

// A driver that cannot produce a custom rate substitutes another; one within
// this many percent is the rate asked for (what a UART tolerates).
constexpr int CUSTOM_RATE_TOLERANCE_PERCENT = 2;

class Deadline {
public:
    // timeoutMs < 0: no limit.
    explicit Deadline(int timeoutMs)
        : m_unlimited(timeoutMs < 0), m_end(Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs)) {}

    // The limit for poll(): -1 without limit, 0 once passed, else rounded up
    // so that poll() does not wake just before the deadline.
    int RemainingMs() const {
        if (m_unlimited) return -1;
        const Clock::duration left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }

private:
    using Clock = std::chrono::steady_clock;
    bool m_unlimited;
    Clock::time_point m_end;
};

// The poll() events of `fd`, 0 when the deadline passed first, or -1 when
// poll() failed. Interrupted waits resume with the time that is left.
int WaitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, deadline.RemainingMs());
        if (ready > 0) return entry.revents;
        if (ready == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

std::optional<tcflag_t> CharacterSizeFlags(int dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        case 8: return CS8;
        default: return std::nullopt;
    }
}

// Values outside the enumeration give one stop bit; termios has no 1.5.
std::optional<tcflag_t> StopBitFlags(StopBits stopBits) {
    switch (stopBits) {
        case StopBits::OnePointFive: return std::nullopt;
        case StopBits::Two: return CSTOPB;
        default: return 0;
    }
}

// Values outside the enumeration give no parity. Mark and Space need stick
// parity (CMSPAR): the parity bit is then fixed at PARODD.
std::optional<tcflag_t> ParityFlags(Parity parity) {
    switch (parity) {
        case Parity::Odd: return PARENB | PARODD;
        case Parity::Even: return PARENB;
        case Parity::Mark:
            if (STICK_PARITY == 0) return std::nullopt;
            return PARENB | PARODD | STICK_PARITY;
        case Parity::Space:
            if (STICK_PARITY == 0) return std::nullopt;
            return PARENB | STICK_PARITY;
        default: return 0;
    }
}

// The LINE_FLAGS value for the format, or nothing when termios cannot express it.
std::optional<tcflag_t> LineFlags(int dataBits, StopBits stopBits, Parity parity) {
    const std::optional<tcflag_t> size = CharacterSizeFlags(dataBits);
    const std::optional<tcflag_t> stop = StopBitFlags(stopBits);
    const std::optional<tcflag_t> par = ParityFlags(parity);
    if (!size || !stop || !par) return std::nullopt;
    return *size | *stop | *par | CLOCAL | CREAD;
}

// Rates with a B-constant on Linux, macOS and the BSDs alike; others go
// through termios2 on Linux.
std::optional<speed_t> StandardSpeed(int baudRate) {
    struct Rate {
        int bitsPerSecond;
        speed_t code;
    };
    static constexpr Rate RATES[] = {
        {50, B50},     {75, B75},       {110, B110},     {134, B134},     {150, B150},       {200, B200},
        {300, B300},   {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},     {4800, B4800},
        {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    };
    for (const Rate& rate : RATES) {
        if (rate.bitsPerSecond == baudRate) return rate.code;
    }
    return std::nullopt;
}

bool CustomRateKept(int asked, int kept) {
    const std::int64_t difference = std::llabs(static_cast<std::int64_t>(kept) - asked);
    return kept > 0 && difference * 100 <= static_cast<std::int64_t>(asked) * CUSTOM_RATE_TOLERANCE_PERCENT;
}

bool SetCustomRate(int fd, int baudRate) {
#ifdef __linux__
    return CustomRateKept(baudRate, qx480::detail::SetCustomBaudRate(fd, baudRate));
#else
    (void)fd;
    (void)baudRate;
    return false;
#endif
}

void MakeRaw(termios& tio, tcflag_t lineFlags) {
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cflag &= ~LINE_FLAGS;
    tio.c_cflag |= lineFlags;
    // A read takes what has arrived, even nothing; Read waits in poll().
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

// tcsetattr() succeeds when the driver took any part of the settings, and a
// driver substitutes what it cannot do (a pseudo-terminal runs 8 data bits
// without parity only), so the settings are read back.
bool SettingsKept(int fd, tcflag_t lineFlags, std::optional<speed_t> speed) {
    termios kept{};
    if (tcgetattr(fd, &kept) != 0 || (kept.c_cflag & LINE_FLAGS) != lineFlags) return false;
    return !speed || cfgetospeed(&kept) == *speed;
}

bool Configure(int fd, int baudRate, tcflag_t lineFlags) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    MakeRaw(tio, lineFlags);
    const std::optional<speed_t> speed = StandardSpeed(baudRate);
    if (speed && (cfsetispeed(&tio, *speed) != 0 || cfsetospeed(&tio, *speed) != 0)) return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || !SettingsKept(fd, lineFlags, speed)) return false;
    return speed || SetCustomRate(fd, baudRate);
}

// A USB adapter holds received bytes back for its latency timer (16 ms on
// common FTDI parts) unless asked for low latency, which shortens that wait
// to about 1 ms. Drivers without the setting and pseudo-terminals refuse.
void AskForLowLatency(int fd) {
#ifdef __linux__
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) return;
    info.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &info);
#else
    (void)fd;
#endif
}

void RaiseDtrAndRts(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);  // a pseudo-terminal has no modem lines and refuses
}

void Release(int fd) {
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

// Why open() refused a path.
SerialOpenError OpenErrorOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV: return SerialOpenError::NoSuchPort;
        case EBUSY: return SerialOpenError::Busy;
        case EACCES:
        case EPERM:
        case EROFS: return SerialOpenError::Permission;
        case EISDIR: return SerialOpenError::NotSerial;
        default: return SerialOpenError::Other;
    }
}

// The open tty held exclusively, or -1 with the reason in `why`. TIOCEXCL
// keeps other opens out (root passes it); the lock stops a second holder
// that takes the lock too.
int OpenExclusive(const char* path, SerialOpenError& why) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = OpenErrorOf(errno);
        return -1;
    }
    // Lock before TIOCEXCL: a refused attempt must not clear the holder's TIOCEXCL on its way out.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = WouldBlock(errno) ? SerialOpenError::Busy : SerialOpenError::Other;
        close(fd);
        return -1;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        why = errno == ENOTTY ? SerialOpenError::NotSerial : SerialOpenError::Other;
        Release(fd);
        return -1;
    }
    return fd;
}

constexpr std::uint32_t MAX_CODE_POINT = 0x10FFFF;
constexpr std::uint32_t SURROGATE_FIRST = 0xD800;
constexpr std::uint32_t SURROGATE_LAST = 0xDFFF;

// UTF-8: 7 bits in one byte, 11 in two, 16 in three, 21 in four; the lead
// byte carries the length, each continuation byte 10xxxxxx six bits.
void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    auto continuation = [codePoint](int shift) { return static_cast<char>(0x80 | ((codePoint >> shift) & 0x3F)); };
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += continuation(0);
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += continuation(6);
        out += continuation(0);
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += continuation(12);
        out += continuation(6);
        out += continuation(0);
    }
}

// The path for a wide name: its code points in UTF-8, whatever the C locale
// says. Nothing when the name holds a value that is no code point.
std::optional<std::string> Utf8Path(const wchar_t* name) {
    std::string path;
    for (; *name != L'\0'; ++name) {
        const auto codePoint = static_cast<std::uint32_t>(*name);
        if (codePoint > MAX_CODE_POINT || (codePoint >= SURROGATE_FIRST && codePoint <= SURROGATE_LAST)) {
            return std::nullopt;
        }
        AppendUtf8(path, codePoint);
    }
    return path;
}

}  // namespace

SerialPort::SerialPort() : m_fd(-1) {}

SerialPort::~SerialPort() { Close(); }

bool SerialPort::OpenLocal(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                           SerialOpenError& why) {
    Close();
    why = SerialOpenError::BadArgument;
    if (portName == nullptr) return false;
    const std::optional<std::string> path = Utf8Path(portName);
    return path && OpenLocal(path->c_str(), baudRate, dataBits, stopBits, parity, why);
}

bool SerialPort::OpenLocal(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                           SerialOpenError& why) {
    Close();
    why = SerialOpenError::BadArgument;
    const std::optional<tcflag_t> lineFlags = LineFlags(dataBits, stopBits, parity);
    if (portName == nullptr || !lineFlags || baudRate <= 0) return false;
    const int fd = OpenExclusive(portName, why);
    if (fd < 0) return false;
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
        why = SerialOpenError::NotSerial;
        Release(fd);
        return false;
    }
    if (!Configure(fd, baudRate, *lineFlags)) {
        why = SerialOpenError::Settings;
        Release(fd);
        return false;
    }
    AskForLowLatency(fd);
    RaiseDtrAndRts(fd);
    tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    why = SerialOpenError::None;
    return true;
}

void SerialPort::CloseLocal() {
    if (m_fd == -1) return;
    Release(m_fd);
    m_fd = -1;
}

bool SerialPort::IsOpenLocal() const { return m_fd != -1; }

SerialPort::NativeHandle SerialPort::GetHandleLocal() const { return m_fd; }

// What has arrived is taken at once, without a poll(). With VMIN 0 a read()
// of 0 means "no data" as well as "hung up"; only poll() tells them apart.
// Bytes that arrived before a hang-up come first.
int SerialPort::ReadLocal(void* buffer, int size, int timeoutMs) {
    if (!IsOpen() || buffer == nullptr || size <= 0) return -1;
    const ssize_t waiting = read(m_fd, buffer, static_cast<std::size_t>(size));
    if (waiting > 0) return static_cast<int>(waiting);
    if (waiting < 0 && errno != EINTR && !WouldBlock(errno)) return -1;
    const Deadline deadline(timeoutMs);
    for (;;) {
        const int events = WaitFor(m_fd, POLLIN, deadline);
        if (events <= 0) return events;
        if ((events & POLLIN) == 0) return -1;  // POLLHUP, POLLERR or POLLNVAL alone
        const ssize_t got = read(m_fd, buffer, static_cast<std::size_t>(size));
        if (got > 0) return static_cast<int>(got);
        if (got == 0 || (errno != EINTR && !WouldBlock(errno))) return -1;  // 0 after POLLIN: hung up
    }
}

int SerialPort::WriteLocal(const void* buffer, int size, int timeoutMs) {
    if (!IsOpen() || buffer == nullptr || size <= 0) return -1;
    const Deadline deadline(timeoutMs);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int written = 0;
    while (written < size) {
        const ssize_t put = write(m_fd, bytes + written, static_cast<std::size_t>(size - written));
        if (put > 0) {
            written += static_cast<int>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && !WouldBlock(errno)) return -1;
        const int events = WaitFor(m_fd, POLLOUT, deadline);
        if (events == 0) break;  // out of time: the short count
        if (events < 0 || (events & POLLOUT) == 0) return -1;
    }
    return written;
}

bool SerialPort::DiscardInputLocal() { return IsOpen() && tcflush(m_fd, TCIFLUSH) == 0; }

bool SerialPort::SetTimeoutLocal(int, int) { return IsOpen(); }

#include "simulated_device.h"

#include <fcntl.h>
#include <poll.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tty_exclusive.h"

namespace qx480 {
namespace sim {
namespace {

// A frame left incomplete this long is forgotten, so a garbled length field
// cannot hold back the requests behind it for good.
constexpr int PARTIAL_FRAME_MS = 500;
// Before a hang-up the host gets this long to read the last answer: bytes
// still unread when the pseudo-terminal closes are lost to it.
constexpr int HOST_READ_MS = 1000;
// Bytes written to a master reach the slave's queue asynchronously.
constexpr int QUEUE_SETTLE_MS = 10;
constexpr int QUEUE_POLL_MS = 2;
constexpr std::size_t READ_CHUNK = 4096;
// How often the serving thread looks for exclusive mode left behind by a
// host that was killed; such a hold would lock every later host out.
constexpr auto EXCLUSIVE_CHECK = std::chrono::milliseconds(150);
// A paced wait longer than this sleeps in poll(), which Stop() can end; the
// rest, and shorter waits, sleep to the microsecond.
constexpr auto COARSE_WAIT = std::chrono::milliseconds(2);
constexpr int BITS_PER_BYTE = 10;  // start bit, 8 data bits, stop bit

using Clock = std::chrono::steady_clock;

// Milliseconds from `now` to `then`, rounded up so that a wait never ends early; never negative.
int MsUntil(Clock::time_point now, Clock::time_point then) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Opens a terminal non-blocking in raw mode; -1 (errno set) on failure.
int OpenRawTty(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (!isatty(fd) || !MakeRaw(fd)) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// How long one byte takes on a line of `baud`; zero for an unpaced line.
std::chrono::steady_clock::duration ByteTime(int baud) {
    if (baud <= 0) return std::chrono::steady_clock::duration::zero();
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::nanoseconds(static_cast<std::int64_t>(BITS_PER_BYTE) * 1000000000 / baud));
}

// Sleeps to the microsecond rather than to the kernel's default 50 us slack,
// which would add that much to every byte of a paced answer.
void TightenTimerSlack() {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

}  // namespace

SimulatedDevice::SimulatedDevice(const Options& options)
    : m_trace(options.trace),
      m_linkPath(options.linkPath),
      m_optionsValid(Valid(options)),
      m_byteTime(ByteTime(options.paceBaud)),
      m_responder(options) {}

SimulatedDevice::~SimulatedDevice() { Stop(); }

bool SimulatedDevice::Fail(const std::string& error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = error;
    return false;
}

bool SimulatedDevice::Start() {
    if (Running()) return Fail("the simulated device is already running");
    if (!m_optionsValid) return Fail(INVALID_OPTIONS);
    JoinThread();
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return Fail(SystemError("cannot make a pseudo-terminal", ""));
    char name[256];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0 ||
        !SetNonBlocking(master)) {
        CloseFd(master);
        return Fail(SystemError("cannot set up a pseudo-terminal", ""));
    }
    // Our own slave descriptor keeps the master from reporting a hang-up
    // whenever no host has the port open, and keeps the raw settings.
    int slave = OpenRawTty(name);
    if (slave < 0) {
        const std::string error = SystemError("cannot open", name);
        CloseFd(master);
        return Fail(error);
    }
    if (!MakeLink(name)) {
        const std::string error = SystemError("cannot make the link", m_linkPath);
        CloseFd(slave);
        CloseFd(master);
        return Fail(error);
    }
    return Launch(master, slave, name);
}

bool SimulatedDevice::ServeTty(const std::string& path) {
    if (Running()) return Fail("the simulated device is already running");
    if (!m_optionsValid) return Fail(INVALID_OPTIONS);
    JoinThread();
    const int fd = OpenRawTty(path);
    if (fd < 0) return Fail(SystemError("cannot open the terminal", path));
    return Launch(fd, -1, path);
}

// Replaces an older symlink at the link path, never a file of another kind.
bool SimulatedDevice::MakeLink(const std::string& target) {
    if (m_linkPath.empty()) return true;
    struct stat st {};
    if (lstat(m_linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            return false;
        }
        if (unlink(m_linkPath.c_str()) != 0) return false;
    }
    if (symlink(target.c_str(), m_linkPath.c_str()) != 0) return false;
    m_madeLink = m_linkPath;
    m_linkTarget = target;
    return true;
}

// Removes our link unless someone has since pointed it elsewhere.
void SimulatedDevice::RemoveLink() {
    if (m_madeLink.empty()) return;
    char target[256];
    const ssize_t n = readlink(m_madeLink.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_linkTarget) unlink(m_madeLink.c_str());
    m_madeLink.clear();
}

bool SimulatedDevice::Launch(int fd, int ownSlave, const std::string& path) {
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const std::string error = SystemError("cannot make a wake pipe", "");
        close(fd);
        if (ownSlave >= 0) close(ownSlave);
        RemoveLink();
        return Fail(error);
    }
    m_fd = fd;
    m_ownSlave = ownSlave;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_responder.BeginSession();
        m_path = path;
        m_error.clear();
        m_running = true;
        m_hungUp = false;
    }
    m_thread = std::thread(&SimulatedDevice::Serve, this);
    return true;
}

void SimulatedDevice::Stop() {
    if (m_thread.joinable()) Wake();
    JoinThread();
}

// The byte stays in the pipe, so every later wait of the thread ends at once.
void SimulatedDevice::Wake() {
    const std::uint8_t byte = 1;
    while (write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

void SimulatedDevice::JoinThread() {
    if (m_thread.joinable()) m_thread.join();
    CloseFd(m_wake[0]);
    CloseFd(m_wake[1]);
}

void SimulatedDevice::Serve() {
    if (m_byteTime != Clock::duration::zero()) TightenTimerSlack();
    while (Pump()) {
    }
    bool hungUp;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hungUp = m_responder.HungUp();
    }
    if (hungUp) AwaitHostRead();
    CloseLine();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
    m_hungUp = hungUp;
}

// One wait for input and what follows from it. False ends the service: a
// stop, a hang-up or the loss of the line.
bool SimulatedDevice::Pump() {
    bool partial;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        partial = m_responder.HasPartialFrame();
    }
    const int revents = Await(POLLIN, partial ? PARTIAL_FRAME_MS : -1);
    if (revents < 0) return false;
    if (revents == 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_responder.DropPartialFrame();
        return true;
    }
    std::uint8_t buf[READ_CHUNK];
    const ssize_t n = read(m_fd, buf, sizeof buf);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;  // poll said readable: a served tty hung up
    // A host that talks is alive: look for one that was killed (an
    // expensive look on a busy system) only once the line is quiet.
    m_nextExclusiveCheck = Clock::now() + EXCLUSIVE_CHECK;
    if (!TakeAtPace(static_cast<std::size_t>(n))) return false;
    std::vector<Reply> replies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        replies = m_responder.Feed(buf, static_cast<std::size_t>(n));
    }
    if (!replies.empty()) m_requestArrived.notify_all();
    for (const Reply& reply : replies) {
        if (!Send(reply)) return false;
    }
    return true;
}

bool SimulatedDevice::Send(const Reply& reply) {
    return SendReply(
        reply, m_trace, [this](int ms) { return Pause(ms); },
        [this](const std::vector<std::uint8_t>& bytes) { return WriteAtPace(bytes); });
}

// Sleeps, but returns false at once when Stop() is called.
bool SimulatedDevice::Pause(int ms) { return Await(0, ms) == 0; }

// Sleeps until `then`, but returns false at once when Stop() is called.
bool SimulatedDevice::PauseUntil(Clock::time_point then) {
    for (Clock::time_point now = Clock::now(); now < then; now = Clock::now()) {
        if (then - now <= COARSE_WAIT) {
            std::this_thread::sleep_until(then);
            return true;
        }
        if (Await(0, MsUntil(now, then - COARSE_WAIT)) != 0) return false;
    }
    return true;
}

// On a paced line `count` bytes just read are taken only once they would have
// crossed it, behind what came in before them; unpaced, at once.
bool SimulatedDevice::TakeAtPace(std::size_t count) {
    if (m_byteTime == Clock::duration::zero()) return true;
    const Clock::time_point start = std::max(Clock::now(), m_inboundFree);
    m_inboundFree = start + m_byteTime * static_cast<Clock::rep>(count);
    return PauseUntil(m_inboundFree);
}

// On a paced line one byte at a time, each written once it would have crossed
// the line; unpaced, all at once.
bool SimulatedDevice::WriteAtPace(const std::vector<std::uint8_t>& bytes) {
    if (m_byteTime == Clock::duration::zero()) return WriteAll(bytes);
    Clock::time_point due = Clock::now();
    for (std::uint8_t byte : bytes) {
        due += m_byteTime;
        if (!PauseUntil(due) || !WriteAll({byte})) return false;
    }
    return true;
}

// A host that stops reading fills the line's buffer; the write then waits
// for room or for Stop().
bool SimulatedDevice::WriteAll(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        if (Await(POLLOUT, -1) < 0) return false;
    }
    return true;
}

// Every wait of the serving thread passes here, so that exclusive mode left
// by a killed host is cleared even while an answer is held back or a write
// waits for room.
int SimulatedDevice::Await(short events, int timeoutMs) {
    constexpr Clock::time_point NEVER = Clock::time_point::max();
    const Clock::time_point end = timeoutMs < 0 ? NEVER : Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Clock::time_point now = Clock::now();
        Clock::time_point until = end;
        if (m_ownSlave >= 0) {
            if (now >= m_nextExclusiveCheck) {
                ClearOrphanedExclusive(m_ownSlave);
                m_nextExclusiveCheck = now + EXCLUSIVE_CHECK;
            }
            until = std::min(until, m_nextExclusiveCheck);
        }
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {m_fd, events, 0}};
        const int ready = poll(fds, events != 0 ? 2 : 1, until == NEVER ? -1 : MsUntil(now, until));
        if (ready < 0 && errno != EINTR) return -1;
        if (fds[0].revents != 0) return -1;
        if (fds[1].revents != 0) return fds[1].revents;
        if (Clock::now() >= end) return 0;
    }
}

void SimulatedDevice::AwaitHostRead() {
    if (m_ownSlave < 0 || !Pause(QUEUE_SETTLE_MS)) return;
    for (int waited = QUEUE_SETTLE_MS; waited < HOST_READ_MS; waited += QUEUE_POLL_MS) {
        int queued = 0;
        if (ioctl(m_ownSlave, FIONREAD, &queued) != 0 || queued <= 0) return;
        if (!Pause(QUEUE_POLL_MS)) return;
    }
}

void SimulatedDevice::CloseLine() {
    CloseFd(m_fd);
    CloseFd(m_ownSlave);
    RemoveLink();
}

std::string SimulatedDevice::Path() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

bool SimulatedDevice::Running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

bool SimulatedDevice::HungUp() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hungUp;
}

std::string SimulatedDevice::Error() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

DeviceState SimulatedDevice::State() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.State();
}

void SimulatedDevice::SetState(const DeviceState& state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder.SetState(state);
}

float SimulatedDevice::ShiftTemperature(float celsius) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.ShiftTemperature(celsius);
}

Limits SimulatedDevice::GetLimits() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.GetLimits();
}

bool SimulatedDevice::SetLimits(const Limits& limits) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.SetLimits(limits);
}

Faults SimulatedDevice::GetFaults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.GetFaults();
}

bool SimulatedDevice::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.SetFaults(faults);
}

std::vector<std::vector<std::uint8_t>> SimulatedDevice::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.Requests();
}

std::size_t SimulatedDevice::BytesReceived() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.BytesReceived();
}

std::size_t SimulatedDevice::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.RequestCount();
}

void SimulatedDevice::ClearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder.ClearLog();
}

bool SimulatedDevice::WaitForRequests(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_requestArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_responder.RequestCount() >= count; });
}

}  // namespace sim
}  // namespace qx480

#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif

#include <chrono>

#include "frame.h"

namespace qx480 {
namespace test {
namespace {

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Whether `request` holds a whole frame so far, as far as a peer that only
// waits for the tail can tell.
bool EndsAFrame(const Bytes& request) {
    return request.size() >= static_cast<std::size_t>(frame::MIN_FRAME) && request.back() == frame::TAIL;
}

}  // namespace

PtyPair::PtyPair(Line line) {
    termios raw{};
    cfmakeraw(&raw);
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, line == Line::Raw ? &raw : nullptr, nullptr) == 0) {
        m_path = name;
    } else {
        m_master = m_slave = -1;
    }
}

PtyPair::~PtyPair() {
    CloseMaster();
    CloseSlave();
}

void PtyPair::CloseMaster() { CloseFd(m_master); }

void PtyPair::CloseSlave() { CloseFd(m_slave); }

RawHost::RawHost(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios tio{};
    if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_fd, TCSANOW, &tio);
    }
}

RawHost::~RawHost() { CloseFd(m_fd); }

bool RawHost::Write(const Bytes& bytes) {
    return write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

Bytes RawHost::Read(std::size_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && Clock::now() < end) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        std::uint8_t buf[512];
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n > 0) out.insert(out.end(), buf, buf + n);
        if ((p.revents & POLLHUP) != 0 && n <= 0) break;
    }
    return out;
}

bool RawHost::HungUp(int timeoutMs) {
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLHUP) != 0;
}

ScriptedPeer::ScriptedPeer(Bytes answer) : m_answer(std::move(answer)), m_thread([this] { Serve(); }) {}

ScriptedPeer::~ScriptedPeer() {
    m_stop = true;
    m_thread.join();
}

void ScriptedPeer::Serve() {
    Bytes request;
    while (!m_stop) {
        pollfd p{m_pty.Master(), POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        std::uint8_t buf[64];
        const ssize_t n = read(m_pty.Master(), buf, sizeof buf);
        if (n <= 0) continue;
        request.insert(request.end(), buf, buf + n);
        if (!EndsAFrame(request)) continue;
        request.clear();
        if (write(m_pty.Master(), m_answer.data(), m_answer.size()) < 0) return;
    }
}

}  // namespace test
}  // namespace qx480

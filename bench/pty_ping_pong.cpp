#include "pty_ping_pong.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace qx480 {
namespace bench {
namespace {

constexpr int ANSWER_WAIT_MS = 1000;

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Reads until `size` bytes are in; false on a failure, a hang-up or a wait
// longer than ANSWER_WAIT_MS.
bool ReadExactly(int fd, std::uint8_t* buf, int size) {
    int have = 0;
    while (have < size) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, ANSWER_WAIT_MS) <= 0 || (entry.revents & POLLIN) == 0) return false;
        const ssize_t n = read(fd, buf + have, static_cast<std::size_t>(size - have));
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) return false;
        if (n > 0) have += static_cast<int>(n);
    }
    return true;
}

}  // namespace

PtyPingPong::~PtyPingPong() { Stop(); }

bool PtyPingPong::Start() {
    if (!m_pty.Ok()) return false;
    const int slave = m_pty.Slave();
    if (fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK) != 0 || pipe(m_wake) != 0) {
        Stop();
        return false;
    }
    m_thread = std::thread(&PtyPingPong::Answer, this);
    return true;
}

bool PtyPingPong::RoundTrip() {
    std::uint8_t message[MESSAGE_SIZE] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // any ten bytes
    if (write(m_pty.Slave(), message, sizeof message) != MESSAGE_SIZE) return false;
    return ReadExactly(m_pty.Slave(), message, MESSAGE_SIZE);
}

// Echoes every whole message until woken.
void PtyPingPong::Answer() {
    std::uint8_t buf[MESSAGE_SIZE];
    int have = 0;
    for (;;) {
        pollfd fds[2] = {{m_pty.Master(), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0 || (fds[0].revents & (POLLHUP | POLLERR)) != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const ssize_t n = read(m_pty.Master(), buf + have, static_cast<std::size_t>(MESSAGE_SIZE - have));
        if (n <= 0) return;
        have += static_cast<int>(n);
        if (have < MESSAGE_SIZE) continue;
        if (write(m_pty.Master(), buf, sizeof buf) != MESSAGE_SIZE) return;
        have = 0;
    }
}

// The wake byte ends the thread's wait; closing the slave would too (the
// master then reports a hang-up), so the join cannot hang.
void PtyPingPong::Stop() {
    if (m_thread.joinable()) {
        const std::uint8_t byte = 1;
        while (write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
        m_pty.CloseSlave();
        m_thread.join();
    }
    CloseFd(m_wake[0]);
    CloseFd(m_wake[1]);
    m_pty.CloseSlave();
    m_pty.CloseMaster();
}

}  // namespace bench
}  // namespace qx480

// The floor for an exchange over a pseudo-terminal: the least a 10-byte
// request and 10-byte response can cost, each side waiting in poll() and
// moving the bytes with one write and as few reads as the line allows. The
// answering side runs on a thread of the same process, as the simulated
// device does, so the two figures compare like with like.
#pragma once

#include <cstdint>
#include <thread>

#include "pseudo_terminal.h"

namespace qx480 {
namespace bench {

class PtyPingPong {
public:
    static constexpr int MESSAGE_SIZE = 10;

    PtyPingPong() = default;
    ~PtyPingPong();
    PtyPingPong(const PtyPingPong&) = delete;
    PtyPingPong& operator=(const PtyPingPong&) = delete;

    // Starts the answering thread on the raw pseudo-terminal pair made with
    // the object; false when the pair or the thread's wake pipe failed.
    bool Start();
    // Writes one request on the slave side and waits for the whole answer;
    // false when the line failed or nothing came back within a second.
    bool RoundTrip();

private:
    void Answer();
    void Stop();

    test::PtyPair m_pty{test::PtyPair::Line::Raw};
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace bench
}  // namespace qx480

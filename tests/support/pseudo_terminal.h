// Pseudo-terminals for the tests and benchmarks (POSIX only): a pair from
// openpty(), a host end opened by path, and a peer that answers every
// request with the same bytes.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "hex.h"

namespace qx480 {
namespace test {

// A pseudo-terminal pair; both ends close with it.
class PtyPair {
public:
    enum class Line { AsOpened, Raw };

    explicit PtyPair(Line line = Line::AsOpened);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // False when openpty() failed; then both ends are -1.
    bool Ok() const { return m_master >= 0; }
    int Master() const { return m_master; }
    int Slave() const { return m_slave; }
    // The slave's path, which stays valid while the master is open.
    const std::string& Path() const { return m_path; }
    void CloseMaster();
    void CloseSlave();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// A host end opened with plain open() and termios, independent of SerialPort.
class RawHost {
public:
    explicit RawHost(const std::string& path);
    ~RawHost();
    RawHost(const RawHost&) = delete;
    RawHost& operator=(const RawHost&) = delete;

    bool Ok() const { return m_fd >= 0; }
    bool Write(const Bytes& bytes);
    // Reads until `count` bytes came, the line hangs up or timeoutMs passed.
    Bytes Read(std::size_t count, int timeoutMs = 2000);
    // True when the far end hangs up within timeoutMs.
    bool HungUp(int timeoutMs);

private:
    int m_fd;
};

// A peer on a pseudo-terminal of its own that answers each request with the
// same bytes: for answers the simulated device never gives.
class ScriptedPeer {
public:
    explicit ScriptedPeer(Bytes answer);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    const std::string& Path() const { return m_pty.Path(); }

private:
    void Serve();

    const Bytes m_answer;
    PtyPair m_pty;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace test
}  // namespace qx480

// A simulated QX480DDG on a real pseudo-terminal (POSIX only), served by a
// thread of its own. A host opens Path() like a serial port and talks the
// device protocol to it; tests and programs read and steer the device through
// the accessors below, all of which are safe while the thread runs. On Linux
// the device clears exclusive mode on its pseudo-terminal once the host that
// set it holds the port no more, so that a killed host cannot lock the next
// one out.
//
//   qx480::sim::SimulatedDevice sim;
//   if (!sim.Start()) ...;
//   QX480DDG dev; dev.Open(sim.Path(), 115200);
//   dev.SetDelay(1, 10);            // sim.State().block.channels[0].delay == 1000
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "responder.h"

namespace qx480 {
namespace sim {

class SimulatedDevice {
public:
    SimulatedDevice() : SimulatedDevice(Options()) {}
    explicit SimulatedDevice(const Options& options);
    // Stops the thread and closes the line.
    ~SimulatedDevice();

    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    // Makes a new pseudo-terminal pair in raw mode, makes Options::linkPath
    // (replacing an older symlink there, never any other kind of file) and
    // starts serving. False when already running, when the options are not
    // Valid, or when the pair or the link cannot be made. After a hang-up,
    // Start() serves again on a new pseudo-terminal with a new path.
    bool Start();
    // Serves an existing terminal (for example one end of a socat pair)
    // instead, switched to raw mode. False when already running or when `path`
    // cannot be opened as a terminal. linkPath is not used.
    bool ServeTty(const std::string& path);
    // The path a host opens: the pseudo-terminal's slave or the served tty.
    // Stays set after Stop() or a hang-up, until the next Start().
    std::string Path() const;
    // True from a successful Start()/ServeTty() until Stop(), a hang-up or
    // the loss of a served tty.
    bool Running() const;
    // Prompt: wakes the thread, joins it, closes the line and removes the
    // link. Harmless when not running.
    void Stop();

    DeviceState State() const;
    void SetState(const DeviceState& state);
    // Moves the temperature by `celsius` at once, between two requests;
    // returns the new temperature.
    float ShiftTemperature(float celsius);
    Limits GetLimits() const;
    // False (nothing changed) when !Valid(limits).
    bool SetLimits(const Limits& limits);
    Faults GetFaults() const;
    // Takes effect from the next request; fault counting restarts there.
    // False (nothing changed) when !Valid(faults).
    bool SetFaults(const Faults& faults);

    // Each valid request frame received, in order (kept when keepRequestLog).
    std::vector<std::vector<std::uint8_t>> Requests() const;
    // Every byte read from the line, frames and junk alike.
    std::size_t BytesReceived() const;
    std::size_t RequestCount() const;
    void ClearLog();
    // Waits until RequestCount() reaches `count`; false after timeoutMs.
    bool WaitForRequests(std::size_t count, int timeoutMs) const;

    // True once the hang-up fault has closed the line (until the next Start()).
    bool HungUp() const;
    // Why the last Start() or ServeTty() failed, in one line; empty after success.
    std::string Error() const;

private:
    bool Fail(const std::string& error);
    bool MakeLink(const std::string& target);
    void RemoveLink();
    bool Launch(int fd, int ownSlave, const std::string& path);
    void Wake();
    void Serve();
    bool Pump();
    bool Send(const Reply& reply);
    bool Pause(int ms);
    bool PauseUntil(std::chrono::steady_clock::time_point then);
    bool TakeAtPace(std::size_t count);
    bool WriteAll(const std::vector<std::uint8_t>& bytes);
    bool WriteAtPace(const std::vector<std::uint8_t>& bytes);
    // Waits in poll() for `events` on the line (0: only for the time) or for
    // Stop(), at most timeoutMs (< 0: no limit). Returns the line's revents,
    // 0 once timeoutMs passed, -1 on Stop() or a failed poll().
    int Await(short events, int timeoutMs);
    void AwaitHostRead();
    void CloseLine();
    void JoinThread();

    const bool m_trace;
    const std::string m_linkPath;
    const bool m_optionsValid;
    const std::chrono::steady_clock::duration m_byteTime;  // on a paced line; zero when unpaced

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_requestArrived;
    Responder m_responder;   // guarded by m_mutex
    std::string m_path;      // guarded by m_mutex
    std::string m_error;     // guarded by m_mutex
    bool m_running = false;  // guarded by m_mutex
    bool m_hungUp = false;   // guarded by m_mutex

    // Owned by the controlling thread while stopped, by the serving thread while it runs.
    int m_fd = -1;
    int m_ownSlave = -1;
    int m_wake[2] = {-1, -1};
    std::chrono::steady_clock::time_point m_nextExclusiveCheck{};
    std::chrono::steady_clock::time_point m_inboundFree{};  // when the paced line has carried what came in
    std::string m_madeLink;
    std::string m_linkTarget;
    std::thread m_thread;
};

}  // namespace sim
}  // namespace qx480

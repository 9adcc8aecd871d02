// A simulated QX480DDG on a TCP port, as a terminal server in raw mode would
// present it, served by a thread of its own; builds on POSIX and Windows.
// One client at a time is served; a second one is told "Port already in
// use" and closed. The hang-up fault closes the client's connection, and
// the next client is served afresh.
//
//   qx480::sim::TcpDeviceServer sim;
//   if (!sim.Start("127.0.0.1", 0)) ...;
//   QX480DDG dev; dev.Open(sim.Url().c_str(), 115200);
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "responder.h"
#include "socket_system.h"

namespace qx480 {
namespace sim {

class TcpDeviceServer {
public:
    TcpDeviceServer() : TcpDeviceServer(Options()) {}
    explicit TcpDeviceServer(const Options& options);
    // Stops the thread and closes every socket.
    ~TcpDeviceServer();

    TcpDeviceServer(const TcpDeviceServer&) = delete;
    TcpDeviceServer& operator=(const TcpDeviceServer&) = delete;

    // Listens on `host` (a numeric IPv4 or IPv6 address) and `port` (0: a
    // free one) and starts serving. False, with Error() set, when already
    // running, when the options are not Valid, or when the address cannot
    // be bound.
    bool Start(const std::string& host, std::uint16_t port);
    // The port name a host opens: socket://HOST:PORT ([HOST] for IPv6).
    std::string Url() const;
    std::uint16_t Port() const;
    bool Running() const;
    // Prompt: wakes the thread within a poll interval, joins it and closes the sockets.
    void Stop();

    DeviceState State() const;
    // Moves the temperature by `celsius` at once, between two requests;
    // returns the new temperature.
    float ShiftTemperature(float celsius);
    bool SetFaults(const Faults& faults);
    std::size_t RequestCount() const;
    // Clients served so far (connections that were not turned away).
    std::size_t ClientCount() const;
    std::string Error() const;

private:
    void Serve();
    void ServeClient();
    void TurnAway();
    bool Send(const Reply& reply);
    bool SendAll(const std::vector<std::uint8_t>& bytes);
    // Waits for `events` on the client (0: only for the time), and for new
    // connections; false on Stop().
    int Await(short events, int timeoutMs);
    bool Pause(int ms);

    const bool m_trace;
    const bool m_optionsValid;

    mutable std::mutex m_mutex;
    Responder m_responder;  // guarded by m_mutex
    std::string m_error;    // guarded by m_mutex
    std::size_t m_clients = 0;

    std::string m_host;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    detail::SocketHandle m_listener = detail::NO_SOCKET;
    detail::SocketHandle m_client = detail::NO_SOCKET;  // owned by the serving thread while it runs
    std::thread m_thread;
};

}  // namespace sim
}  // namespace qx480

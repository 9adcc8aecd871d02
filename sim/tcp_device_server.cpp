#include "tcp_device_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace qx480 {
namespace sim {
namespace {

using detail::NO_SOCKET;
using detail::SocketErrorKind;
using detail::SocketHandle;
using Clock = std::chrono::steady_clock;

// How often the serving thread looks for Stop() and for clients to turn away.
constexpr int STOP_POLL_MS = 20;
// A frame left incomplete this long is forgotten, as on a pseudo-terminal.
constexpr int PARTIAL_FRAME_MS = 500;
constexpr std::size_t READ_CHUNK = 4096;
constexpr int BACKLOG = 4;
constexpr char BUSY_MESSAGE[] = "Port already in use\r\n";

// A listening socket on host:port, or NO_SOCKET with `error` set.
SocketHandle Listen(const std::string& host, std::uint16_t port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo* address = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &address) != 0) {
        error = "'" + host + "' is not a numeric IPv4 or IPv6 address";
        return NO_SOCKET;
    }
    SocketHandle listener = detail::MakeStreamSocket(address->ai_family);
#ifndef _WIN32
    // Windows would let another program bind the same port with this; POSIX only frees TIME_WAIT.
    const int on = 1;
    if (listener != NO_SOCKET) setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (listener == NO_SOCKET || bind(listener, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0 ||
        listen(listener, BACKLOG) != 0) {
        error = "cannot listen on " + host + " port " + std::to_string(port);
        detail::CloseSocket(listener);
        listener = NO_SOCKET;
    }
    freeaddrinfo(address);
    return listener;
}

std::uint16_t BoundPort(SocketHandle listener) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

}  // namespace

TcpDeviceServer::TcpDeviceServer(const Options& options)
    : m_trace(options.trace), m_optionsValid(Valid(options)), m_responder(options) {}

TcpDeviceServer::~TcpDeviceServer() { Stop(); }

bool TcpDeviceServer::Start(const std::string& host, std::uint16_t port) {
    std::string error;
    if (m_running) error = "the simulated device is already running";
    if (!m_optionsValid) error = INVALID_OPTIONS;
    if (error.empty() && !detail::StartSockets()) error = "the socket system did not start";
    if (error.empty()) m_listener = Listen(host, port, error);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = error;
    if (!error.empty()) return false;
    m_host = host;
    m_port = BoundPort(m_listener);
    m_stop = false;
    m_running = true;
    m_thread = std::thread(&TcpDeviceServer::Serve, this);
    return true;
}

std::string TcpDeviceServer::Url() const {
    const bool v6 = m_host.find(':') != std::string::npos;
    return "socket://" + (v6 ? "[" + m_host + "]" : m_host) + ":" + std::to_string(m_port);
}

std::uint16_t TcpDeviceServer::Port() const { return m_port; }

bool TcpDeviceServer::Running() const { return m_running; }

void TcpDeviceServer::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    detail::CloseSocket(m_listener);
    m_listener = NO_SOCKET;
}

void TcpDeviceServer::Serve() {
    while (!m_stop) {
        if (detail::WaitSocket(m_listener, POLLIN, STOP_POLL_MS) <= 0) continue;
        m_client = detail::AcceptConnection(m_listener);
        if (m_client == NO_SOCKET) continue;
        detail::TuneConnection(m_client);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_responder.BeginSession();
            ++m_clients;
        }
        ServeClient();
        detail::CloseSocket(m_client);
        m_client = NO_SOCKET;
    }
    m_running = false;
}

// Until the client goes, the hang-up fault closes its line, or Stop().
void TcpDeviceServer::ServeClient() {
    for (;;) {
        bool partial;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            partial = m_responder.HasPartialFrame();
        }
        const int revents = Await(POLLIN, partial ? PARTIAL_FRAME_MS : -1);
        if (revents < 0) return;
        if (revents == 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_responder.DropPartialFrame();
            continue;
        }
        std::uint8_t buf[READ_CHUNK];
        const long n = detail::ReceiveSome(m_client, buf, sizeof buf);
        if (n == 0) return;
        if (n < 0) {
            const SocketErrorKind why = detail::LastSocketError();
            if (why == SocketErrorKind::WouldBlock || why == SocketErrorKind::Interrupted) continue;
            return;
        }
        std::vector<Reply> replies;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            replies = m_responder.Feed(buf, static_cast<std::size_t>(n));
        }
        for (const Reply& reply : replies) {
            if (!Send(reply)) return;
        }
    }
}

// A device has one line: a second client hears why and is closed.
void TcpDeviceServer::TurnAway() {
    const SocketHandle other = detail::AcceptConnection(m_listener);
    if (other == NO_SOCKET) return;
    detail::SendSome(other, BUSY_MESSAGE, sizeof BUSY_MESSAGE - 1);
    detail::CloseSocket(other);
}

bool TcpDeviceServer::Send(const Reply& reply) {
    return SendReply(
        reply, m_trace, [this](int ms) { return Pause(ms); },
        [this](const std::vector<std::uint8_t>& bytes) { return SendAll(bytes); });
}

bool TcpDeviceServer::SendAll(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = detail::SendSome(m_client, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const SocketErrorKind why = detail::LastSocketError();
        if (why != SocketErrorKind::WouldBlock && why != SocketErrorKind::Interrupted) return false;
        if (Await(POLLOUT, -1) < 0) return false;
    }
    return true;
}

bool TcpDeviceServer::Pause(int ms) { return Await(0, ms) == 0; }

int TcpDeviceServer::Await(short events, int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (m_stop) return -1;
        // The client first: one that has just left makes way for the next instead of turning it away.
        if (events != 0) {
            const int revents = detail::WaitSocket(m_client, events, 0);
            if (revents != 0) return revents;
        }
        TurnAway();
        int slice = STOP_POLL_MS;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return 0;
            slice = static_cast<int>(std::min<long long>(left, STOP_POLL_MS));
        }
        if (events == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));  // a pause the faults asked for
            continue;
        }
        const int revents = detail::WaitSocket(m_client, events, slice);
        if (revents != 0) return revents;
    }
}

DeviceState TcpDeviceServer::State() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.State();
}

float TcpDeviceServer::ShiftTemperature(float celsius) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.ShiftTemperature(celsius);
}

bool TcpDeviceServer::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.SetFaults(faults);
}

std::size_t TcpDeviceServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responder.RequestCount();
}

std::size_t TcpDeviceServer::ClientCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clients;
}

std::string TcpDeviceServer::Error() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

}  // namespace sim
}  // namespace qx480

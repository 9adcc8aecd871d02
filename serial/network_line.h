// A port reached over TCP: the connection every network backend shares
// (name lookup, connect, bounded sends and receives), and the backends,
// each in a file of its own: raw TCP (network_line_socket.cpp) and telnet
// with the COM-PORT-OPTION (network_line_rfc2217.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "port_address.h"
#include "serial_port.h"
#include "socket_system.h"

namespace qx480 {
namespace detail {

using Clock = std::chrono::steady_clock;

// The whole Open of a network port (lookup, connect, negotiation) ends within this.
constexpr int NETWORK_OPEN_MS = 3000;

// Milliseconds left until `deadline` for a wait, rounded up; 0 once passed.
int MsLeft(Clock::time_point deadline);

// Why a network Open failed, with what the server said or did where that helps.
struct OpenFailure {
    SerialOpenError why = SerialOpenError::None;
    std::string detail;
};

// What a server wrote before it closed the connection ("Port already in
// use"), as one line of printable text; empty when it wrote nothing readable.
std::string ServerWords(const std::string& bytes);

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Looks up `host` and connects to the first of its addresses that
    // accepts, all before `deadline`. On false `failure` says why.
    bool Connect(const std::string& host, std::uint16_t port, Clock::time_point deadline, OpenFailure& failure);
    // Waits at most timeoutMs (< 0: no limit) for bytes. The count received;
    // 0 when none came in time; -1 when the server closed or reset the
    // connection or the socket failed.
    int Receive(void* buffer, int size, int timeoutMs);
    // Sends within timeoutMs (< 0: no limit): the count sent, short when the
    // time ran out, -1 when the connection failed.
    int Send(const void* buffer, int size, int timeoutMs);
    SocketHandle Handle() const { return m_socket; }

private:
    SocketHandle m_socket = NO_SOCKET;
};

// One open network port, behind SerialPort.
class NetworkLine {
public:
    virtual ~NetworkLine() = default;
    // As SerialPort::Read and Write: bytes of the device's line only.
    virtual int Read(void* buffer, int size, int timeoutMs) = 0;
    virtual int Write(const void* buffer, int size, int timeoutMs) = 0;
    // Throws away what has arrived from the device and not been read.
    virtual bool DiscardInput() = 0;
    SocketHandle Handle() const { return m_tcp.Handle(); }

protected:
    TcpConnection m_tcp;
};

struct LineSettings {
    int baudRate;
    int dataBits;
    StopBits stopBits;
    Parity parity;
};

// Raw TCP: the terminal server owns the line settings, which are not sent.
std::unique_ptr<NetworkLine> OpenSocketLine(const PortAddress& address, OpenFailure& failure);
// RFC 2217: negotiates and sets `settings`, checking each answer.
std::unique_ptr<NetworkLine> OpenRfc2217Line(const PortAddress& address, const LineSettings& settings,
                                             OpenFailure& failure);

// Opens the network port `name` names (a name HasNetworkScheme() accepts).
std::unique_ptr<NetworkLine> OpenNetworkLine(const char* name, const LineSettings& settings, OpenFailure& failure);

}  // namespace detail
}  // namespace qx480

// The few socket calls that differ between POSIX and Winsock2, behind one
// set of names; socket_system_posix.cpp and socket_system_win32.cpp hold the
// two implementations. Every socket made here is non-blocking; waits happen
// in WaitSocket().
#pragma once

#include <cstddef>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace qx480 {
namespace detail {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle NO_SOCKET = INVALID_SOCKET;
#else
using SocketHandle = int;
constexpr SocketHandle NO_SOCKET = -1;
#endif

// What the last failed socket call means for the caller.
enum class SocketErrorKind { WouldBlock, InProgress, Interrupted, Refused, Other };

// Starts the socket system where one must be started (Winsock); safe to repeat.
bool StartSockets();
// A non-blocking, non-inherited stream socket, or NO_SOCKET.
SocketHandle MakeStreamSocket(int family);
void CloseSocket(SocketHandle socket);
SocketErrorKind LastSocketError();
// Whether a non-blocking connect that WaitSocket() reported done succeeded;
// if not, what its error (SO_ERROR) means.
bool ConnectSucceeded(SocketHandle socket, SocketErrorKind& why);
// Waits for `events` (POLLIN, POLLOUT) at most timeoutMs (< 0: no limit).
// Returns the revents, 0 when the time passed, -1 when the wait failed.
int WaitSocket(SocketHandle socket, short events, int timeoutMs);
// The next connection waiting on a listening socket, non-blocking, or NO_SOCKET.
SocketHandle AcceptConnection(SocketHandle listener);
// send() that never raises SIGPIPE; the count sent, or -1.
long SendSome(SocketHandle socket, const void* bytes, std::size_t size);
long ReceiveSome(SocketHandle socket, void* bytes, std::size_t size);
// TCP_NODELAY, and keepalive probes that notice a server gone within about
// KEEPALIVE_IDLE_S + KEEPALIVE_COUNT * KEEPALIVE_INTERVAL_S seconds (Windows
// sends 10 probes, not KEEPALIVE_COUNT).
void TuneConnection(SocketHandle socket);

constexpr int KEEPALIVE_IDLE_S = 10;
constexpr int KEEPALIVE_INTERVAL_S = 3;
constexpr int KEEPALIVE_COUNT = 3;

}  // namespace detail
}  // namespace qx480

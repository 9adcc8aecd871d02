// Winsock2 for socket_system.h.
#include "socket_system.h"

// Needs the Winsock types first.
#include <mstcpip.h>

namespace qx480 {
namespace detail {
namespace {

SocketErrorKind KindOf(int error) {
    switch (error) {
        case WSAEWOULDBLOCK: return SocketErrorKind::WouldBlock;
        case WSAEINPROGRESS: return SocketErrorKind::InProgress;
        case WSAEINTR: return SocketErrorKind::Interrupted;
        case WSAECONNREFUSED: return SocketErrorKind::Refused;
        default: return SocketErrorKind::Other;
    }
}

bool MakeNonBlocking(SOCKET socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0 &&
           SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0) != FALSE;
}

void SetOption(SOCKET socket, int level, int name, int value) {
    setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

// WSAStartup counts its calls; the library starts Winsock once for the
// process and leaves it running until the process ends.
bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SocketHandle MakeStreamSocket(int family) {
    const SOCKET socket = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return NO_SOCKET;
    if (!MakeNonBlocking(socket)) {
        closesocket(socket);
        return NO_SOCKET;
    }
    return socket;
}

void CloseSocket(SocketHandle socket) {
    if (socket != NO_SOCKET) closesocket(socket);
}

// A non-blocking connect reports WSAEWOULDBLOCK where POSIX says EINPROGRESS.
SocketErrorKind LastSocketError() { return KindOf(WSAGetLastError()); }

bool ConnectSucceeded(SocketHandle socket, SocketErrorKind& why) {
    int error = 0;
    int size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
        error = WSAGetLastError();
    }
    why = KindOf(error);
    return error == 0;
}

// select() rather than WSAPoll: WSAPoll of Windows before 10 version 2004
// never reports a connect that failed, which would then look like a host
// that does not answer. A failed connect shows in the exception set.
int WaitSocket(SocketHandle socket, short events, int timeoutMs) {
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if ((events & POLLIN) != 0) FD_SET(socket, &readable);
    if ((events & POLLOUT) != 0) FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
    if (ready <= 0) return ready == 0 ? 0 : -1;
    int revents = 0;
    if (FD_ISSET(socket, &readable)) revents |= POLLIN;
    if (FD_ISSET(socket, &writable)) revents |= POLLOUT;
    if (FD_ISSET(socket, &failed)) revents |= POLLERR;
    return revents;
}

SocketHandle AcceptConnection(SocketHandle listener) {
    const SOCKET socket = accept(listener, nullptr, nullptr);
    if (socket == INVALID_SOCKET) return NO_SOCKET;
    if (!MakeNonBlocking(socket)) {
        closesocket(socket);
        return NO_SOCKET;
    }
    return socket;
}

long SendSome(SocketHandle socket, const void* bytes, std::size_t size) {
    const int count = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    return send(socket, static_cast<const char*>(bytes), count, 0);
}

long ReceiveSome(SocketHandle socket, void* bytes, std::size_t size) {
    const int count = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    return recv(socket, static_cast<char*>(bytes), count, 0);
}

void TuneConnection(SocketHandle socket) {
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
    tcp_keepalive values{1, KEEPALIVE_IDLE_S * 1000, KEEPALIVE_INTERVAL_S * 1000};
    DWORD returned = 0;
    WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr);
}

}  // namespace detail
}  // namespace qx480

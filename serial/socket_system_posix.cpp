// POSIX sockets for socket_system.h.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "socket_system.h"

namespace qx480 {
namespace detail {
namespace {

SocketErrorKind KindOf(int error) {
    switch (error) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return SocketErrorKind::WouldBlock;
        case EINPROGRESS: return SocketErrorKind::InProgress;
        case EINTR: return SocketErrorKind::Interrupted;
        case ECONNREFUSED: return SocketErrorKind::Refused;
        default: return SocketErrorKind::Other;
    }
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void SetOption(int fd, int level, int name, int value) { setsockopt(fd, level, name, &value, sizeof value); }

}  // namespace

bool StartSockets() { return true; }

SocketHandle MakeStreamSocket(int family) {
    const int fd = socket(family, SOCK_STREAM, 0);
    if (fd < 0) return NO_SOCKET;
    if (!MakeNonBlocking(fd)) {
        close(fd);
        return NO_SOCKET;
    }
#ifdef SO_NOSIGPIPE
    SetOption(fd, SOL_SOCKET, SO_NOSIGPIPE, 1);
#endif
    return fd;
}

void CloseSocket(SocketHandle socket) {
    if (socket != NO_SOCKET) close(socket);
}

SocketErrorKind LastSocketError() { return KindOf(errno); }

bool ConnectSucceeded(SocketHandle socket, SocketErrorKind& why) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    why = KindOf(error);
    return error == 0;
}

int WaitSocket(SocketHandle socket, short events, int timeoutMs) {
    pollfd entry{socket, events, 0};
    const int ready = poll(&entry, 1, timeoutMs);
    if (ready > 0) return entry.revents;
    if (ready == 0 || errno == EINTR) return 0;
    return -1;
}

SocketHandle AcceptConnection(SocketHandle listener) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return NO_SOCKET;
    if (!MakeNonBlocking(fd)) {
        close(fd);
        return NO_SOCKET;
    }
    return fd;
}

long SendSome(SocketHandle socket, const void* bytes, std::size_t size) {
#ifdef MSG_NOSIGNAL
    return send(socket, bytes, size, MSG_NOSIGNAL);
#else
    return send(socket, bytes, size, 0);  // SO_NOSIGPIPE is set on the socket
#endif
}

// Linux delays its ACKs and falls back out of quick-ACK mode on its own; a
// server that holds small writes back until they are acknowledged (Nagle:
// ser2net answering a purge, then the device) would then wait up to 40 ms.
long ReceiveSome(SocketHandle socket, void* bytes, std::size_t size) {
    const long got = recv(socket, bytes, size, 0);
#ifdef TCP_QUICKACK
    if (got > 0) SetOption(socket, IPPROTO_TCP, TCP_QUICKACK, 1);
#endif
    return got;
}

void TuneConnection(SocketHandle socket) {
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    SetOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, KEEPALIVE_IDLE_S);
#endif
#ifdef TCP_KEEPINTVL
    SetOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, KEEPALIVE_INTERVAL_S);
    SetOption(socket, IPPROTO_TCP, TCP_KEEPCNT, KEEPALIVE_COUNT);
#endif
}

}  // namespace detail
}  // namespace qx480

// What the network backends share: the TCP connection and the choice of backend.
#include "network_line.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qx480 {
namespace detail {
namespace {

// getaddrinfo() has no time limit of its own, so a name is looked up on a
// thread of its own; when the deadline passes first, the caller goes and
// the thread frees the answer whenever it comes.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    int result = 0;
    addrinfo* addresses = nullptr;
};

addrinfo Hints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

void RunLookup(const std::shared_ptr<Lookup>& lookup, const std::string& host, const std::string& service) {
    const addrinfo hints = Hints(AI_ADDRCONFIG);
    addrinfo* addresses = nullptr;
    const int result = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (lookup->abandoned) {
        if (addresses != nullptr) freeaddrinfo(addresses);
        return;
    }
    lookup->finished = true;
    lookup->result = result;
    lookup->addresses = addresses;
    lookup->done.notify_all();
}

// The addresses of `host`, or null with `failure` set. Numeric addresses need no lookup.
addrinfo* Resolve(const std::string& host, std::uint16_t port, Clock::time_point deadline, OpenFailure& failure) {
    const std::string service = std::to_string(port);
    const addrinfo numeric = Hints(AI_NUMERICHOST);
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), service.c_str(), &numeric, &addresses) == 0) return addresses;

    auto lookup = std::make_shared<Lookup>();
    std::thread(RunLookup, lookup, host, service).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        failure = {SerialOpenError::UnknownHost, "the name lookup did not finish in time"};
        return nullptr;
    }
    if (lookup->result != 0 || lookup->addresses == nullptr) {
        failure = {SerialOpenError::UnknownHost, ""};
        return nullptr;
    }
    return lookup->addresses;
}

// A connected socket to `address`, or NO_SOCKET with `failure` set.
SocketHandle ConnectTo(const addrinfo& address, Clock::time_point deadline, OpenFailure& failure) {
    const SocketHandle socket = MakeStreamSocket(address.ai_family);
    if (socket == NO_SOCKET) {
        failure = {SerialOpenError::Other, "no socket"};
        return NO_SOCKET;
    }
    SocketErrorKind why = SocketErrorKind::Other;
    bool connected = connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0;
    if (!connected) {
        why = LastSocketError();
        if (why == SocketErrorKind::InProgress || why == SocketErrorKind::WouldBlock) {
            const int events = WaitSocket(socket, POLLOUT, MsLeft(deadline));
            if (events == 0) why = SocketErrorKind::WouldBlock;
            if (events > 0) connected = ConnectSucceeded(socket, why);
        }
    }
    if (connected) {
        TuneConnection(socket);
        return socket;
    }
    CloseSocket(socket);
    if (why == SocketErrorKind::Refused) {
        failure = {SerialOpenError::ConnectionRefused, ""};
    } else if (why == SocketErrorKind::WouldBlock) {
        failure = {SerialOpenError::NoConnection, "no answer within " + std::to_string(NETWORK_OPEN_MS) + " ms"};
    } else {
        failure = {SerialOpenError::NoConnection, "the network refused the connection"};
    }
    return NO_SOCKET;
}

}  // namespace

std::string ServerWords(const std::string& bytes) {
    constexpr std::size_t MOST = 80;
    std::string words;
    for (char c : bytes) {
        const bool printable = c >= ' ' && c <= '~';
        if (printable && words.size() < MOST) words += c;
        if (!printable && !words.empty() && words.back() != ' ') words += ' ';
    }
    while (!words.empty() && words.back() == ' ') words.pop_back();
    return words;
}

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

TcpConnection::~TcpConnection() { CloseSocket(m_socket); }

bool TcpConnection::Connect(const std::string& host, std::uint16_t port, Clock::time_point deadline,
                            OpenFailure& failure) {
    if (!StartSockets()) {
        failure = {SerialOpenError::Other, "the socket system did not start"};
        return false;
    }
    addrinfo* addresses = Resolve(host, port, deadline, failure);
    if (addresses == nullptr) return false;
    for (const addrinfo* address = addresses; address != nullptr && m_socket == NO_SOCKET; address = address->ai_next) {
        m_socket = ConnectTo(*address, deadline, failure);
        if (MsLeft(deadline) == 0) break;
    }
    freeaddrinfo(addresses);
    return m_socket != NO_SOCKET;
}

int TcpConnection::Receive(void* buffer, int size, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const long got = ReceiveSome(m_socket, buffer, static_cast<std::size_t>(size));
        if (got > 0) return static_cast<int>(got);
        if (got == 0) return -1;  // the server closed the connection
        const SocketErrorKind why = LastSocketError();
        if (why == SocketErrorKind::Interrupted) continue;
        if (why != SocketErrorKind::WouldBlock) return -1;  // reset, or the keepalive found no one
        const int events = WaitSocket(m_socket, POLLIN, timeoutMs < 0 ? -1 : MsLeft(deadline));
        if (events < 0) return -1;
        if (events == 0) return 0;
    }
}

int TcpConnection::Send(const void* buffer, int size, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    const auto* bytes = static_cast<const char*>(buffer);
    int sent = 0;
    while (sent < size) {
        const long put = SendSome(m_socket, bytes + sent, static_cast<std::size_t>(size - sent));
        if (put > 0) {
            sent += static_cast<int>(put);
            continue;
        }
        const SocketErrorKind why = LastSocketError();
        if (why == SocketErrorKind::Interrupted) continue;
        if (why != SocketErrorKind::WouldBlock) return -1;
        const int events = WaitSocket(m_socket, POLLOUT, timeoutMs < 0 ? -1 : MsLeft(deadline));
        if (events == 0) break;
        if (events < 0 || (events & POLLOUT) == 0) return -1;
    }
    return sent;
}

std::unique_ptr<NetworkLine> OpenNetworkLine(const char* name, const LineSettings& settings, OpenFailure& failure) {
    PortAddress address;
    if (!ParsePortAddress(name, address) || address.scheme == PortScheme::Local) {
        failure = {SerialOpenError::BadArgument, ""};
        return nullptr;
    }
    if (address.scheme == PortScheme::Socket) return OpenSocketLine(address, failure);
    return OpenRfc2217Line(address, settings, failure);
}

}  // namespace detail
}  // namespace qx480

// Raw TCP to a terminal server: every byte is the device's, both ways.
#include <algorithm>

#include "network_line.h"

namespace qx480 {
namespace detail {
namespace {

// A terminal server that refuses a client (its port is held by another, or
// its device failed) accepts the connection, writes why and closes it at
// once; Open waits this long for that verdict. A device never speaks first.
constexpr int SERVER_VERDICT_MS = 100;
constexpr int CHUNK = 512;

class SocketLine : public NetworkLine {
public:
    bool Open(const PortAddress& address, OpenFailure& failure) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(NETWORK_OPEN_MS);
        if (!m_tcp.Connect(address.host, address.port, deadline, failure)) return false;
        return AwaitVerdict(std::min(deadline, Clock::now() + std::chrono::milliseconds(SERVER_VERDICT_MS)), failure);
    }

    int Read(void* buffer, int size, int timeoutMs) override { return m_tcp.Receive(buffer, size, timeoutMs); }

    int Write(const void* buffer, int size, int timeoutMs) override { return m_tcp.Send(buffer, size, timeoutMs); }

    bool DiscardInput() override {
        char junk[CHUNK];
        int got;
        while ((got = m_tcp.Receive(junk, sizeof junk, 0)) > 0) {
        }
        return got == 0;
    }

private:
    bool AwaitVerdict(Clock::time_point until, OpenFailure& failure) {
        std::string said;
        char chunk[CHUNK];
        for (;;) {
            const int got = m_tcp.Receive(chunk, sizeof chunk, MsLeft(until));
            if (got < 0) {
                failure = {SerialOpenError::ServerClosed, ServerWords(said)};
                return false;
            }
            if (got == 0 || Clock::now() >= until) return true;
            said.append(chunk, static_cast<std::size_t>(got));
        }
    }
};

}  // namespace

std::unique_ptr<NetworkLine> OpenSocketLine(const PortAddress& address, OpenFailure& failure) {
    auto line = std::make_unique<SocketLine>();
    if (!line->Open(address, failure)) return nullptr;
    return line;
}

}  // namespace detail
}  // namespace qx480

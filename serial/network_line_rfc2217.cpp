// Telnet with the COM-PORT-OPTION (RFC 2217) to a terminal server: the
// client sets the line itself and checks what the server says it set.
#include <algorithm>
#include <cstring>
#include <vector>

#include "network_line.h"
#include "telnet_codec.h"

namespace qx480 {
namespace detail {
namespace {

namespace telnet = qx480::detail::telnet;

constexpr int CHUNK = 512;
// How long DiscardInput waits for the server to confirm its purge.
constexpr int PURGE_ANSWER_MS = 500;

// One line setting as the COM-PORT-OPTION carries it, and how a refusal names it.
struct SettingRequest {
    std::uint8_t command;
    std::vector<std::uint8_t> value;
    std::string (*describe)(const std::vector<std::uint8_t>& value);
};

std::string DescribeBaud(const std::vector<std::uint8_t>& v) {
    if (v.size() != 4) return "an unreadable baud rate";
    const std::uint32_t rate = (std::uint32_t{v[0]} << 24) | (std::uint32_t{v[1]} << 16) | (v[2] << 8) | v[3];
    return std::to_string(rate) + " baud";
}

std::string DescribeDataSize(const std::vector<std::uint8_t>& v) {
    return v.size() == 1 ? std::to_string(v[0]) + " data bits" : "an unreadable data size";
}

std::string DescribeParity(const std::vector<std::uint8_t>& v) {
    static const char* const NAMES[] = {"no", "odd", "even", "mark", "space"};
    if (v.size() != 1 || v[0] < 1 || v[0] > 5) return "an unknown parity";
    return std::string(NAMES[v[0] - 1]) + " parity";
}

std::string DescribeStopSize(const std::vector<std::uint8_t>& v) {
    static const char* const NAMES[] = {"1 stop bit", "2 stop bits", "1.5 stop bits"};
    if (v.size() != 1 || v[0] < 1 || v[0] > 3) return "an unknown stop size";
    return NAMES[v[0] - 1];
}

// Values outside the enumerations are taken as none and one, as the local backends do.
std::uint8_t ParityCode(Parity parity) {
    const int value = static_cast<int>(parity);
    return static_cast<std::uint8_t>(value >= 0 && value <= 4 ? value + 1 : 1);
}

std::uint8_t StopSizeCode(StopBits stopBits) {
    switch (stopBits) {
        case StopBits::Two: return 2;
        case StopBits::OnePointFive: return 3;
        default: return 1;
    }
}

std::vector<SettingRequest> SettingRequests(const LineSettings& s) {
    const auto rate = static_cast<std::uint32_t>(s.baudRate);
    return {
        {telnet::SET_BAUDRATE,
         {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
          static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)},
         DescribeBaud},
        {telnet::SET_DATASIZE, {static_cast<std::uint8_t>(s.dataBits)}, DescribeDataSize},
        {telnet::SET_PARITY, {ParityCode(s.parity)}, DescribeParity},
        {telnet::SET_STOPSIZE, {StopSizeCode(s.stopBits)}, DescribeStopSize},
    };
}

class Rfc2217Line : public NetworkLine {
public:
    bool Open(const PortAddress& address, const LineSettings& settings, OpenFailure& failure) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(NETWORK_OPEN_MS);
        if (!m_tcp.Connect(address.host, address.port, deadline, failure)) return false;
        return Negotiate(deadline, failure) && Configure(settings, deadline, failure);
    }

    int Read(void* buffer, int size, int timeoutMs) override {
        if (m_pending.empty()) {
            const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
            while (m_pending.empty()) {
                const int got = Pump(timeoutMs < 0 ? -1 : MsLeft(deadline));
                if (got < 0) return -1;
                if (got == 0 && timeoutMs >= 0 && MsLeft(deadline) == 0) return 0;
            }
        }
        const int count = std::min(size, static_cast<int>(m_pending.size()));
        std::memcpy(buffer, m_pending.data(), static_cast<std::size_t>(count));
        m_pending.erase(m_pending.begin(), m_pending.begin() + count);
        return count;
    }

    int Write(const void* buffer, int size, int timeoutMs) override {
        if (m_broken) return -1;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        std::vector<std::uint8_t> encoded;
        telnet::Codec::EncodeData(bytes, static_cast<std::size_t>(size), encoded);
        const int sent = m_tcp.Send(encoded.data(), static_cast<int>(encoded.size()), timeoutMs);
        if (sent < 0) return -1;
        return SourceBytesSent(bytes, size, sent);
    }

    // The purge's answer comes in band: whatever arrives before it is stale.
    bool DiscardInput() override {
        m_pending.clear();
        m_codec.ForgetAnswer(telnet::PURGE_DATA);
        if (!SendAll(telnet::Codec::ComPortCommand(telnet::PURGE_DATA, {telnet::PURGE_RECEIVE}), PURGE_ANSWER_MS)) {
            return false;
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(PURGE_ANSWER_MS);
        while (!m_codec.Answer(telnet::PURGE_DATA)) {
            if (Pump(MsLeft(deadline)) < 0) return false;
            m_pending.clear();
            if (!m_codec.Answer(telnet::PURGE_DATA) && MsLeft(deadline) == 0) return false;
        }
        return true;
    }

private:
    // Receives once within timeoutMs and feeds the codec: the data bytes
    // that came, 0 when nothing (or only telnet commands) came, -1 when the
    // connection failed.
    int Pump(int timeoutMs) {
        std::uint8_t chunk[CHUNK];
        const int got = m_tcp.Receive(chunk, sizeof chunk, timeoutMs);
        if (got <= 0) return got;
        const std::size_t before = m_pending.size();
        m_codec.Feed(chunk, static_cast<std::size_t>(got), m_pending);
        const std::vector<std::uint8_t> replies = m_codec.TakeReplies();
        if (!replies.empty() && !SendAll(replies, PURGE_ANSWER_MS)) return -1;
        return static_cast<int>(m_pending.size() - before);
    }

    bool SendAll(const std::vector<std::uint8_t>& bytes, int timeoutMs) {
        const int size = static_cast<int>(bytes.size());
        return m_tcp.Send(bytes.data(), size, timeoutMs) == size;
    }

    // How many of `size` source bytes went out whole in `sent` encoded bytes.
    // A doubled 0xFF cut in half would turn the next byte into a command, so
    // its second half is sent now, or the line is given up.
    int SourceBytesSent(const std::uint8_t* bytes, int size, int sent) {
        int source = 0;
        int encoded = 0;
        while (source < size) {
            const int width = bytes[source] == telnet::IAC ? 2 : 1;
            if (encoded + width > sent) break;
            encoded += width;
            ++source;
        }
        if (encoded < sent && !SendAll({telnet::IAC}, PURGE_ANSWER_MS)) {
            m_broken = true;
            return -1;
        }
        return source + (encoded < sent ? 1 : 0);
    }

    // Runs the exchange until `done` or the deadline; false with `failure` set otherwise.
    template <class Done>
    bool AwaitServer(Done done, Clock::time_point deadline, const char* step, OpenFailure& failure) {
        while (!done()) {
            const int got = Pump(MsLeft(deadline));
            if (got < 0) {
                failure = {SerialOpenError::ServerClosed, ServerWords(std::string(m_pending.begin(), m_pending.end()))};
                return false;
            }
            if (got == 0 && MsLeft(deadline) == 0) {
                failure = {SerialOpenError::NoNegotiation, std::string("no answer to ") + step};
                return false;
            }
        }
        return true;
    }

    bool Negotiate(Clock::time_point deadline, OpenFailure& failure) {
        if (!SendAll(m_codec.Greeting(), MsLeft(deadline))) {
            failure = {SerialOpenError::ServerClosed, ""};
            return false;
        }
        const auto settled = [this] { return m_codec.Negotiated() || m_codec.Refused(); };
        if (!AwaitServer(settled, deadline, "the telnet negotiation", failure)) return false;
        if (m_codec.Refused()) {
            failure = {SerialOpenError::NoNegotiation, "the server refused binary mode or the COM-PORT-OPTION"};
            return false;
        }
        return true;
    }

    bool Configure(const LineSettings& settings, Clock::time_point deadline, OpenFailure& failure) {
        const std::vector<SettingRequest> requests = SettingRequests(settings);
        std::vector<std::uint8_t> commands;
        for (const SettingRequest& request : requests) {
            m_codec.ForgetAnswer(request.command);
            const std::vector<std::uint8_t> one = telnet::Codec::ComPortCommand(request.command, request.value);
            commands.insert(commands.end(), one.begin(), one.end());
        }
        if (!SendAll(commands, MsLeft(deadline))) {
            failure = {SerialOpenError::ServerClosed, ""};
            return false;
        }
        for (const SettingRequest& request : requests) {
            const auto answered = [&] { return m_codec.Answer(request.command).has_value(); };
            if (!AwaitServer(answered, deadline, "the line settings", failure)) return false;
            const std::vector<std::uint8_t>& value = *m_codec.Answer(request.command);
            if (value != request.value) {
                failure = {SerialOpenError::Settings,
                           "the server set " + request.describe(value) + " for " + request.describe(request.value)};
                return false;
            }
        }
        m_pending.clear();  // whatever the line carried before it was set up
        return true;
    }

    telnet::Codec m_codec;
    std::vector<std::uint8_t> m_pending;  // data bytes decoded and not yet read
    bool m_broken = false;
};

}  // namespace

std::unique_ptr<NetworkLine> OpenRfc2217Line(const PortAddress& address, const LineSettings& settings,
                                             OpenFailure& failure) {
    if (settings.dataBits < 5 || settings.dataBits > 8) {
        failure = {SerialOpenError::BadArgument, ""};
        return nullptr;
    }
    auto line = std::make_unique<Rfc2217Line>();
    if (!line->Open(address, settings, failure)) return nullptr;
    return line;
}

}  // namespace detail
}  // namespace qx480

// Connection and the request/response exchange.
#include <chrono>

#include "arrival_buffer.h"
#include "frame_receiver.h"
#include "outcome_detail.h"
#include "qx480ddg.h"

using qx480::detail::Conclude;

namespace {

// Millisecond ticks that wrap at 2^32, like the Windows tick count.
struct MillisecondClock {
    std::uint32_t operator()() const {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
};

// The device's line: 8 data bits, no parity, one stop bit, at the caller's rate.
constexpr int DATA_BITS = 8;

// Opens the device's line on `port` (a wide or UTF-8 name) and records why it did not open.
template <class Name>
bool OpenLine(SerialPort& port, Name portName, int baudRate, QX480Outcome& outcome) {
    SerialOpenError why;
    port.Open(portName, baudRate, DATA_BITS, StopBits::One, Parity::None, why);
    return Conclude(outcome, QX480StatusOfOpenError(why));
}

}  // namespace

QX480DDG::QX480DDG() = default;

QX480DDG::~QX480DDG() { Close(); }

bool QX480DDG::Open(const wchar_t* portName, int baudRate) {
    QX480Outcome outcome;
    return OpenLine(m_port, portName, baudRate, outcome);
}

bool QX480DDG::Open(const char* portName, int baudRate) {
    QX480Outcome outcome;
    return OpenLine(m_port, portName, baudRate, outcome);
}

bool QX480DDG::Open(const wchar_t* portName, int baudRate, QX480Outcome& outcome) {
    return OpenLine(m_port, portName, baudRate, outcome);
}

bool QX480DDG::Open(const char* portName, int baudRate, QX480Outcome& outcome) {
    return OpenLine(m_port, portName, baudRate, outcome);
}

void QX480DDG::Close() { m_port.Close(); }

bool QX480DDG::IsOpen() const { return m_port.IsOpen(); }

SerialPort& QX480DDG::Port() { return m_port; }

bool QX480DDG::SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                         int timeoutMs, QX480Outcome& outcome) {
    outcome.cmd = cmd;
    if (!m_port.IsOpen()) return Conclude(outcome, QX480Status::NotOpen);
    std::vector<std::uint8_t> request;
    BuildFrame(cmd, opt, pa, paLen, request);
    return Exchange(request, cmd, out, timeoutMs, outcome);
}

bool QX480DDG::SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                            QX480Frame* out, int timeoutMs, QX480Outcome& outcome) {
    outcome.cmd = cmd;
    if (!m_port.IsOpen()) return Conclude(outcome, QX480Status::NotOpen);
    std::vector<std::uint8_t> request;
    BuildFrameU32(cmd, opt, words, request);
    return Exchange(request, cmd, out, timeoutMs, outcome);
}

bool QX480DDG::Exchange(const std::vector<std::uint8_t>& request, std::uint8_t cmd, QX480Frame* out, int timeoutMs,
                        QX480Outcome& outcome) {
    if (request.empty()) return Conclude(outcome, QX480Status::BadArgument);  // the builder refused the parameters
    // Whatever waits now (a late answer to an earlier request) is not our response.
    m_port.DiscardInput();
    const int size = static_cast<int>(request.size());
    if (m_observer) m_observer(QX480FrameDirection::Sent, request.data(), request.size());
    const int written = m_port.Write(request.data(), size, timeoutMs);
    if (written < 0) return Conclude(outcome, QX480Status::PortFailed);
    if (written != size) return Conclude(outcome, QX480Status::WriteIncomplete);
    if (out == nullptr) return Conclude(outcome, QX480Status::Accepted);
    return Conclude(outcome, RecvFrame(*out, cmd, timeoutMs));
}

QX480Status QX480DDG::RecvFrame(QX480Frame& out, std::uint8_t cmd, int timeoutMs) {
    MillisecondClock clock;
    qx480::detail::ArrivalBuffer<SerialPort> arrivals(m_port);
    if (!m_observer) return qx480::detail::ReceiveFrame(arrivals, clock, out, cmd, timeoutMs);
    const auto show = [this](bool taken, const std::uint8_t* bytes, std::size_t size) {
        m_observer(taken ? QX480FrameDirection::Received : QX480FrameDirection::Dropped, bytes, size);
    };
    return qx480::detail::ReceiveFrame(arrivals, clock, out, cmd, timeoutMs, show);
}

void QX480DDG::SetFrameObserver(QX480FrameObserver observer) { m_observer = std::move(observer); }

/// \file
/// QX480DDG: the eight-channel delay and pulse generator on one serial port.
///
/// Every command and query is one request frame and one response frame,
/// exchanged on the caller's thread: discard stale input, write the request
/// within 1000 ms, then find, read and check the response within 1000 ms more.
/// The response is the first valid frame that carries the request's command
/// code; frames of other codes (late answers to earlier requests) are dropped.
///
/// Each call returns a bool: true only when the device answered this request
/// and accepted it. Each also has a form whose last argument receives the
/// outcome, which says why a call failed (QX480Status). A call whose
/// arguments are refused touches nothing. The object keeps no error state
/// between calls. One object is used by one thread at a time.
///
/// The protocol carries no sequence number: a late answer to an earlier
/// request of the same command, arriving after this request's purge, cannot
/// be told from this request's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "commands.h"
#include "frame.h"
#include "outcome.h"
#include "qx480_export.h"
#include "serial_port.h"

/// One channel's timing settings and the device-wide values of the timing block.
struct QX480TimingConfig {
    std::int32_t channel;    ///< the channel asked for, 1..8
    std::int64_t delayNs;    ///< delay, ns
    std::int64_t widthNs;    ///< pulse width, ns
    std::uint32_t byte131;   ///< device byte at block offset 131
    double triggerFreqHz;    ///< internal trigger rate, 0.0 when the period is 0
    std::uint32_t byte130;   ///< device byte at 130
    std::uint32_t word128;   ///< device word at 128
    std::uint32_t word138;   ///< device word at 138
    std::uint32_t byte136;   ///< device byte at 136
    std::uint32_t byte137;   ///< device byte at 137
    std::int64_t time140Ns;  ///< the channel's time at 140, ns
    std::int64_t time204Ns;  ///< the channel's time at 204, ns
    float float276;          ///< device value at 276, as sent
};

/// Sent: a request as it is written. Received: the response taken as the
/// request's answer. Dropped: what the receiver threw away while looking for
/// it: stray bytes, frames of another command code, frames that failed their
/// checks, a frame still incomplete when time ran out.
enum class QX480FrameDirection { Sent, Received, Dropped };

/// Called with each frame sent, received or dropped: its direction, its bytes and their count.
using QX480FrameObserver = std::function<void(QX480FrameDirection, const std::uint8_t* frame, std::size_t size)>;

// The members are exported one by one, not the class: the constants then
// need no import from the DLL and can be used by reference from a host.
/// The generator on one serial port. Each command and query is one exchange
/// and returns true only when the device answered this request and accepted
/// it; the form with a QX480Outcome says why it failed. Used by one thread at
/// a time.
class QX480DDG {
public:
    /// Channels are numbered 1 to CHANNEL_COUNT.
    static constexpr int CHANNEL_COUNT = qx480::CHANNEL_COUNT;
    /// The limit of every command and query, for writing the request and again
    /// for receiving the answer.
    static constexpr int TIMEOUT_MS = 1000;

    // ---- Frame codec (stateless; no device or port needed; see frame.h) ----
    ///@{
    /// The frame codec of frame.h as members: each does what the function of
    /// its name in namespace qx480 does; a QX480Command stands for its code.
    static std::uint16_t Checksum(const std::uint8_t* data, int size) { return qx480::Checksum(data, size); }
    static void BuildFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen,
                           std::vector<std::uint8_t>& out) {
        qx480::BuildFrame(cmd, opt, pa, paLen, out);
    }
    static void BuildFrame(QX480Command cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen,
                           std::vector<std::uint8_t>& out) {
        qx480::BuildFrame(qx480::CommandCode(cmd), opt, pa, paLen, out);
    }
    static void BuildFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                              std::vector<std::uint8_t>& out) {
        qx480::BuildFrameU32(cmd, opt, words, out);
    }
    static void BuildFrameU32(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                              std::vector<std::uint8_t>& out) {
        qx480::BuildFrameU32(qx480::CommandCode(cmd), opt, words, out);
    }
    static void DumpFrame(const std::vector<std::uint8_t>& frame, const char* label) { qx480::DumpFrame(frame, label); }
    static bool ParseFrame(const std::uint8_t* data, int size, QX480Frame& out) {
        return qx480::ParseFrame(data, size, out);
    }
    ///@}

    // ---- Connection ----
    /// A device with a closed port.
    QX480_EXPORT QX480DDG();
    /// Closes the port.
    QX480_EXPORT ~QX480DDG();
    QX480DDG(const QX480DDG&) = delete;
    QX480DDG& operator=(const QX480DDG&) = delete;

    /// Opens the port at `baudRate` with 8 data bits, no parity, one stop bit
    /// (SerialPort::Open). True when the port is open and configured. An open
    /// device is closed first and stays closed when the new open fails: no
    /// such port, held by another program, not allowed, not a serial port, or
    /// a rate or line format the driver refuses. A null name closes the device
    /// and returns false.
    QX480_EXPORT bool Open(const wchar_t* portName, int baudRate);
    /// The same, with why it failed in `outcome`: BadArgument (a null name,
    /// a rate of 0 or below), PortNotFound, PortBusy, PortPermission,
    /// NotSerial, PortSettings or OpenFailed.
    QX480_EXPORT bool Open(const wchar_t* portName, int baudRate, QX480Outcome& outcome);
    ///@{
    /// The same with a UTF-8 name ("/dev/ttyUSB0", "COM3", "\\.\COM10").
    QX480_EXPORT bool Open(const char* portName, int baudRate);
    QX480_EXPORT bool Open(const char* portName, int baudRate, QX480Outcome& outcome);
    bool Open(std::nullptr_t, int baudRate) { return Open(static_cast<const char*>(nullptr), baudRate); }
    ///@}
    /// Closes the port; safe to repeat.
    QX480_EXPORT void Close();
    /// True while the port is open.
    QX480_EXPORT bool IsOpen() const;
    /// The port itself, for its handle and its time-outs. A receive waits in
    /// the port's reads, which return what has arrived as soon as anything has
    /// (on Windows through the driver's read time-outs, which each read sets;
    /// after Port().SetTimeouts the host's own stay in force). A host must not
    /// read from the port between calls (it would take bytes of the next
    /// answer) nor close it during a call.
    QX480_EXPORT SerialPort& Port();

    // ---- Exchange ----
    ///@{
    /// Throws away what waits on the receive side, writes one request (pa and
    /// paLen as for BuildFrame) within timeoutMs and, when `out` is non-null,
    /// receives into it the first valid frame that carries `cmd`, within
    /// timeoutMs more. Frames of other codes, stray bytes and the like are
    /// dropped while it looks. The answer's option word is not judged.
    ///
    /// The time is looked at between reads, so a receive can run past its
    /// limit by one read's own limit (100 ms at most). Fails with NotOpen,
    /// BadArgument (parameters BuildFrame refuses; nothing is sent),
    /// WriteIncomplete, PortFailed, NoAnswer or CorruptAnswer; `out` is then
    /// untouched apart from its `valid` flag, unless a frame that failed its
    /// checks reached the parser (which resets the record). With `out` null,
    /// true as soon as the request is written.
    QX480_EXPORT bool SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                                int timeoutMs);
    QX480_EXPORT bool SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                                int timeoutMs, QX480Outcome& outcome);
    bool SendFrame(QX480Command cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                   int timeoutMs) {
        return SendFrame(qx480::CommandCode(cmd), opt, pa, paLen, out, timeoutMs);
    }
    bool SendFrame(QX480Command cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                   int timeoutMs, QX480Outcome& outcome) {
        return SendFrame(qx480::CommandCode(cmd), opt, pa, paLen, out, timeoutMs, outcome);
    }
    ///@}
    ///@{
    /// As SendFrame with each word as four little-endian bytes, in list order;
    /// more than frame::MAX_WORDS words is BadArgument.
    QX480_EXPORT bool SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                                   QX480Frame* out, int timeoutMs);
    QX480_EXPORT bool SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                                   QX480Frame* out, int timeoutMs, QX480Outcome& outcome);
    bool SendFrameU32(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words, QX480Frame* out,
                      int timeoutMs) {
        return SendFrameU32(qx480::CommandCode(cmd), opt, words, out, timeoutMs);
    }
    bool SendFrameU32(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words, QX480Frame* out,
                      int timeoutMs, QX480Outcome& outcome) {
        return SendFrameU32(qx480::CommandCode(cmd), opt, words, out, timeoutMs, outcome);
    }
    ///@}

    /// Optional observer of the frames sent, received and dropped (unset by
    /// default; an empty function removes it). Runs on the caller's thread
    /// inside the exchange; it must not call back into this device.
    QX480_EXPORT void SetFrameObserver(QX480FrameObserver observer);

    // ---- Commands: true when the device answered and accepted the request ----
    // Each is one exchange with TIMEOUT_MS (so up to about twice that in all).
    // Besides the exchange's failures, a command fails with Refused when the
    // device's answer says no, and with BadArgument (nothing sent) as noted.
    // When a command fails after its request went out, whether the device
    // applied it is not known: read it back.

    ///@{
    /// Internal, external or software trigger; any other value is sent as internal.
    QX480_EXPORT bool SetTrigger(QX480TriggerMode mode);
    QX480_EXPORT bool SetTrigger(QX480TriggerMode mode, QX480Outcome& outcome);
    ///@}
    ///@{
    /// The internal trigger rate: the period is 1e9 / hz / 4 ns ticks, cut
    /// toward zero. BadArgument for NaN, rates <= 0 and rates slower than
    /// about 0.0582 Hz (a period beyond 2^32 ticks). Rates above 250 MHz send a
    /// period of 0, which the device refuses.
    QX480_EXPORT bool SetInternalTriggerFreq(double hz);
    QX480_EXPORT bool SetInternalTriggerFreq(double hz, QX480Outcome& outcome);
    ///@}
    ///@{
    /// The period exactly, in 4 ns ticks; BadArgument for 0.
    QX480_EXPORT bool SetTriggerPeriod(std::uint32_t ticks);
    QX480_EXPORT bool SetTriggerPeriod(std::uint32_t ticks, QX480Outcome& outcome);
    ///@}
    ///@{
    /// Switches one channel's output; BadArgument for a channel outside 1..8.
    QX480_EXPORT bool SetOutputChannel(int channel, bool on);
    QX480_EXPORT bool SetOutputChannel(int channel, bool on, QX480Outcome& outcome);
    ///@}
    ///@{
    /// Switches the global output.
    QX480_EXPORT bool SetGlobalOutput(bool enable);
    QX480_EXPORT bool SetGlobalOutput(bool enable, QX480Outcome& outcome);
    ///@}
    ///@{
    /// A channel's delay or pulse width in ns, sent as ns * 100 counts of
    /// 10 ps. BadArgument unless channel is 1..8 and
    /// 0 <= ns <= 184,467,440,737,095,516 (the count's 64-bit range).
    QX480_EXPORT bool SetDelay(int channel, std::int64_t ns);
    QX480_EXPORT bool SetDelay(int channel, std::int64_t ns, QX480Outcome& outcome);
    QX480_EXPORT bool SetPulseWidth(int channel, std::int64_t ns);
    QX480_EXPORT bool SetPulseWidth(int channel, std::int64_t ns, QX480Outcome& outcome);
    ///@}
    ///@{
    /// The same exactly, in 10 ps counts; BadArgument for a channel outside 1..8.
    QX480_EXPORT bool SetDelayCounts(int channel, std::uint64_t counts);
    QX480_EXPORT bool SetDelayCounts(int channel, std::uint64_t counts, QX480Outcome& outcome);
    QX480_EXPORT bool SetPulseWidthCounts(int channel, std::uint64_t counts);
    QX480_EXPORT bool SetPulseWidthCounts(int channel, std::uint64_t counts, QX480Outcome& outcome);
    ///@}
    ///@{
    /// Fires one software trigger.
    QX480_EXPORT bool SoftwareTrigger();
    QX480_EXPORT bool SoftwareTrigger(QX480Outcome& outcome);
    ///@}

    // ---- Queries: on false nothing is written through the pointer ----
    // Besides the exchange's failures, a query fails with BadArgument (null
    // pointer, channel outside 1..8; nothing sent), ShortAnswer (too few
    // parameter bytes) and Echo (its own request came back: a loopback plug
    // or a local echo). The answer's option word is not judged.

    ///@{
    /// The device temperature in degrees Celsius.
    QX480_EXPORT bool ReadTemperature(float* celsius);
    QX480_EXPORT bool ReadTemperature(float* celsius, QX480Outcome& outcome);
    ///@}
    ///@{
    /// One channel's settings and the device-wide values; times in whole ns
    /// (the remainder below 1 ns is dropped).
    QX480_EXPORT bool ReadTimingConfig(int channel, QX480TimingConfig* config);
    QX480_EXPORT bool ReadTimingConfig(int channel, QX480TimingConfig* config, QX480Outcome& outcome);
    ///@}
    ///@{
    /// All eight channels and the device-wide values in one exchange, in the
    /// wire's exact units (10 ps counts, 4 ns ticks).
    QX480_EXPORT bool ReadTimingBlock(qx480::timing::Block* block);
    QX480_EXPORT bool ReadTimingBlock(qx480::timing::Block* block, QX480Outcome& outcome);
    ///@}

private:
    bool Exchange(const std::vector<std::uint8_t>& request, std::uint8_t cmd, QX480Frame* out, int timeoutMs,
                  QX480Outcome& outcome);
    QX480Status RecvFrame(QX480Frame& out, std::uint8_t cmd, int timeoutMs);
    bool SendWrite(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words, QX480Outcome& outcome);
    bool SendCounts(QX480Command cmd, int channel, std::uint64_t counts, QX480Outcome& outcome);
    bool SendTime(QX480Command cmd, int channel, std::int64_t ns, QX480Outcome& outcome);
    bool Query(QX480Command cmd, std::size_t minimumPa, QX480Frame& response, QX480Outcome& outcome);

    SerialPort m_port;
    QX480FrameObserver m_observer;
};

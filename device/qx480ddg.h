// QX480DDG: the eight-channel delay and pulse generator on one serial port.
//
// Every command and query is one request frame and one response frame,
// exchanged on the caller's thread: discard stale input, write the request
// within 1000 ms, then find, read and check the response within 1000 ms more.
// The response is the first valid frame that carries the request's command
// code; frames of other codes (late answers to earlier requests) are dropped.
//
// Each call returns a bool: true only when the device answered this request
// and accepted it. Each also has a form whose last argument receives the
// outcome, which says why a call failed (QX480Status). A call whose
// arguments are refused touches nothing. The object keeps no error state
// between calls. One object is used by one thread at a time.
//
// The protocol carries no sequence number: a late answer to an earlier
// request of the same command, arriving after this request's purge, cannot
// be told from this request's answer.
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

// One channel's timing settings and the device-wide values of the timing block.
struct QX480TimingConfig {
    std::int32_t channel;    // the channel asked for, 1..8
    std::int64_t delayNs;    // delay, ns
    std::int64_t widthNs;    // pulse width, ns
    std::uint32_t byte131;   // device byte at block offset 131
    double triggerFreqHz;    // internal trigger rate, 0.0 when the period is 0
    std::uint32_t byte130;   // device byte at 130
    std::uint32_t word128;   // device word at 128
    std::uint32_t word138;   // device word at 138
    std::uint32_t byte136;   // device byte at 136
    std::uint32_t byte137;   // device byte at 137
    std::int64_t time140Ns;  // the channel's time at 140, ns
    std::int64_t time204Ns;  // the channel's time at 204, ns
    float float276;          // device value at 276, as sent
};

// Sent: a request as it is written. Received: the response taken as the
// request's answer. Dropped: what the receiver threw away while looking for
// it: stray bytes, frames of another command code, frames that failed their
// checks, a frame still incomplete when time ran out.
enum class QX480FrameDirection { Sent, Received, Dropped };

using QX480FrameObserver = std::function<void(QX480FrameDirection, const std::uint8_t* frame, std::size_t size)>;

class QX480_EXPORT QX480DDG {
public:
    static constexpr int CHANNEL_COUNT = qx480::CHANNEL_COUNT;
    static constexpr int TIMEOUT_MS = 1000;

    // ---- Frame codec (stateless; no device or port needed) ----
    static std::uint16_t Checksum(const std::uint8_t* data, int size) { return qx480::Checksum(data, size); }
    static void BuildFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen,
                           std::vector<std::uint8_t>& out) {
        qx480::BuildFrame(cmd, opt, pa, paLen, out);
    }
    static void BuildFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                              std::vector<std::uint8_t>& out) {
        qx480::BuildFrameU32(cmd, opt, words, out);
    }
    static void DumpFrame(const std::vector<std::uint8_t>& frame, const char* label) { qx480::DumpFrame(frame, label); }
    static bool ParseFrame(const std::uint8_t* data, int size, QX480Frame& out) {
        return qx480::ParseFrame(data, size, out);
    }

    // ---- Connection ----
    QX480DDG();
    ~QX480DDG();
    QX480DDG(const QX480DDG&) = delete;
    QX480DDG& operator=(const QX480DDG&) = delete;

    // Opens the port at 8 data bits, no parity, one stop bit. An open device
    // is closed first and stays closed when the new open fails.
    bool Open(const wchar_t* portName, int baudRate);
    bool Open(const char* portName, int baudRate);
    void Close();
    bool IsOpen() const;
    SerialPort& Port();

    // ---- Exchange ----
    // Sends one request (pa/paLen as for BuildFrame) and, when `out` is
    // non-null, receives into it the first valid frame that carries `cmd`
    // within timeoutMs. The answer's option word is not judged. Fails with
    // NotOpen, BadArgument (a request BuildFrame refuses; nothing is sent),
    // WriteIncomplete, PortFailed, NoAnswer or CorruptAnswer.
    bool SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                   int timeoutMs);
    bool SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                   int timeoutMs, QX480Outcome& outcome);
    // As SendFrame with each word as four little-endian bytes, in list order.
    bool SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words, QX480Frame* out,
                      int timeoutMs);
    bool SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words, QX480Frame* out,
                      int timeoutMs, QX480Outcome& outcome);

    // Optional observer of the frames sent, received and dropped (unset by
    // default; an empty function removes it). Runs on the caller's thread
    // inside the exchange.
    void SetFrameObserver(QX480FrameObserver observer);

    // ---- Commands: true when the device answered and accepted the request ----
    // Besides the exchange's failures, a command fails with Refused when the
    // device's answer says no, and with BadArgument (nothing sent) as noted.
    bool SetTrigger(QX480TriggerMode mode);
    bool SetTrigger(QX480TriggerMode mode, QX480Outcome& outcome);
    // BadArgument for NaN, rates <= 0 and rates slower than about 0.0582 Hz (a
    // period beyond 2^32 ticks of 4 ns). Rates above 250 MHz send a period of 0.
    bool SetInternalTriggerFreq(double hz);
    bool SetInternalTriggerFreq(double hz, QX480Outcome& outcome);
    // The period exactly, in 4 ns ticks; BadArgument for 0.
    bool SetTriggerPeriod(std::uint32_t ticks);
    bool SetTriggerPeriod(std::uint32_t ticks, QX480Outcome& outcome);
    // BadArgument for a channel outside 1..8.
    bool SetOutputChannel(int channel, bool on);
    bool SetOutputChannel(int channel, bool on, QX480Outcome& outcome);
    bool SetGlobalOutput(bool enable);
    bool SetGlobalOutput(bool enable, QX480Outcome& outcome);
    // BadArgument unless channel is 1..8 and 0 <= ns <= 184,467,440,737,095,516
    // (the 10 ps count's 64-bit range).
    bool SetDelay(int channel, std::int64_t ns);
    bool SetDelay(int channel, std::int64_t ns, QX480Outcome& outcome);
    bool SetPulseWidth(int channel, std::int64_t ns);
    bool SetPulseWidth(int channel, std::int64_t ns, QX480Outcome& outcome);
    // The time exactly, in 10 ps counts; BadArgument for a channel outside 1..8.
    bool SetDelayCounts(int channel, std::uint64_t counts);
    bool SetDelayCounts(int channel, std::uint64_t counts, QX480Outcome& outcome);
    bool SetPulseWidthCounts(int channel, std::uint64_t counts);
    bool SetPulseWidthCounts(int channel, std::uint64_t counts, QX480Outcome& outcome);
    bool SoftwareTrigger();
    bool SoftwareTrigger(QX480Outcome& outcome);

    // ---- Queries: on false nothing is written through the pointer ----
    // Besides the exchange's failures, a query fails with BadArgument (null
    // pointer, channel outside 1..8; nothing sent), ShortAnswer (too few
    // parameter bytes) and Echo (its own request came back). The answer's
    // option word is not judged.
    bool ReadTemperature(float* celsius);
    bool ReadTemperature(float* celsius, QX480Outcome& outcome);
    bool ReadTimingConfig(int channel, QX480TimingConfig* config);
    bool ReadTimingConfig(int channel, QX480TimingConfig* config, QX480Outcome& outcome);
    // All eight channels and the device-wide values in one exchange, undivided.
    bool ReadTimingBlock(qx480::timing::Block* block);
    bool ReadTimingBlock(qx480::timing::Block* block, QX480Outcome& outcome);

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

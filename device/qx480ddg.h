// QX480DDG: the eight-channel delay and pulse generator on one serial port.
//
// Every command and query is one request frame and one response frame,
// exchanged on the caller's thread: discard stale input, write the request
// within 1000 ms, then find, read and check the response within 1000 ms more.
// Every outcome is a bool; a call whose arguments are refused touches nothing.
// One object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "commands.h"
#include "frame.h"
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

enum class QX480FrameDirection { Sent, Received };

// Sees every request frame as it is written and every whole response frame as
// it is read (before its tail and checksum are checked).
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
    // Sends one request (pa/paLen as for BuildFrame; a request BuildFrame
    // refuses is not sent) and, when `out` is non-null, receives one response
    // into it within timeoutMs. False when the port is closed, the request
    // was not written in full, or no valid frame arrived in time.
    bool SendFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen, QX480Frame* out,
                   int timeoutMs);
    bool SendFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words, QX480Frame* out,
                      int timeoutMs);

    // Optional observer of the frames sent and received (unset by default;
    // an empty function removes it). Runs on the caller's thread inside the exchange.
    void SetFrameObserver(QX480FrameObserver observer);

    // ---- Commands: true when the device accepted the request ----
    bool SetTrigger(QX480TriggerMode mode);
    // Refuses NaN, rates <= 0 and rates slower than about 0.0582 Hz (a period
    // beyond 2^32 ticks of 4 ns). Rates above 250 MHz send a period of 0.
    bool SetInternalTriggerFreq(double hz);
    bool SetOutputChannel(int channel, bool on);
    bool SetGlobalOutput(bool enable);
    // Channel 1..8; 0 <= ns <= 184,467,440,737,095,516 (the 10 ps count's 64-bit range).
    bool SetDelay(int channel, std::int64_t ns);
    bool SetPulseWidth(int channel, std::int64_t ns);
    bool SoftwareTrigger();

    // ---- Queries: on false nothing is written through the pointer ----
    bool ReadTemperature(float* celsius);
    bool ReadTimingConfig(int channel, QX480TimingConfig* config);

private:
    bool Exchange(const std::vector<std::uint8_t>& request, QX480Frame* out, int timeoutMs);
    bool RecvFrame(QX480Frame& out, int timeoutMs);
    bool SendWriteCommand(QX480Command cmd, std::uint16_t opt);
    bool SendWriteWords(QX480Command cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words);
    bool SendTime(QX480Command cmd, int channel, std::int64_t ns);

    SerialPort m_port;
    QX480FrameObserver m_observer;
};

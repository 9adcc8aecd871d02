// The simulated QX480DDG without I/O: received bytes go in, the device state
// changes, and what to send back comes out. The pseudo-terminal device in
// simulated_device.h is a thin loop around it; unit tests and the fuzzer feed
// it directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

namespace qx480 {
namespace sim {

constexpr float DEFAULT_TEMPERATURE = 29.59375f;
// Enough junk to overflow a pseudo-terminal's 16,896-byte buffer several times.
constexpr int MAX_STRAY_BYTES = 1 << 20;
// About 200 kB of stale answers before one response.
constexpr int MAX_FOREIGN_FRAMES = 4096;

// The trigger period a device starts with: 1 kHz.
constexpr std::uint32_t DEFAULT_TRIGGER_TICKS = 250000;

// The timing block of a device just switched on: the default trigger period, all else zero.
timing::Block PowerOnBlock();

// Everything the device remembers and reports. The block holds what
// READ_TIMING reports, in wire units (10 ps counts, 4 ns ticks); the
// device-wide values that no command sets stay as given. Channel n is index n - 1.
struct DeviceState {
    timing::Block block = PowerOnBlock();
    std::array<bool, CHANNEL_COUNT> channelOn{};
    bool globalOutput = false;
    int triggerOpt = 1;                  // the SET_TRIGGER option last taken, TriggerModeOpt: internal at first
    std::uint64_t softwareTriggers = 0;  // accepted SOFTWARE_TRIG requests
    float temperature = DEFAULT_TEMPERATURE;
};

// Equal when every field is; the block and the temperature are compared as
// the device sends them, so a NaN equals the same NaN.
bool operator==(const DeviceState& a, const DeviceState& b);
bool operator!=(const DeviceState& a, const DeviceState& b);

// Settings the device refuses (response option 2) when they lie outside these bounds.
struct Limits {
    std::uint64_t maxDelayCounts = 1000000000000ULL;  // 10 s
    std::uint64_t maxWidthCounts = 1000000000000ULL;  // 10 s
    std::uint32_t minTriggerTicks = 25;               // 100 ns: 10 MHz
    std::uint32_t maxTriggerTicks = UINT32_MAX;       // about 17.18 s
};

// What the line does with the bytes a host writes.
enum class Echo {
    Off,
    // A loopback plug and no device: every byte the host writes comes
    // straight back, junk included. Requests are still counted and logged,
    // and hangUpAfter still closes the line, but none is carried out or
    // answered and no other fault applies.
    Loopback,
    // An adapter that hears its own transmission: each valid request frame
    // comes back byte for byte at once, then the device answers it as usual.
    // A dropped request is echoed all the same.
    LocalEcho,
};

// Misbehaviour on demand. Zero (or false, or Echo::Off) turns a fault off.
// Requests and responses are counted from 1, anew after every SetFaults and
// at the start of each session, so "every Nth" and "after N" count from there.
// On the line an answer is: the foreign frames, the stray bytes, then the
// response; the first piece of the response carries the other two with it.
struct Faults {
    int strayBytes = 0;        // this many junk bytes (never containing a frame head) before each response
    int pieces = 0;            // cut each response into this many pieces (at most one per byte)
    int pieceGapMs = 0;        // pause between the pieces
    int answerDelayMs = 0;     // pause before the first byte of each answer
    int dropEvery = 0;         // every Nth request is logged but neither carried out nor answered
    int corruptEvery = 0;      // every Nth response goes out with a wrong checksum
    bool shortLength = false;  // every response carries a length field below the minimum
    int hangUpAfter = 0;       // close the line once the Nth request has been dealt with
    // This many well-formed answers to other commands before each response,
    // standing for late answers to earlier requests: the command codes go
    // round the device's command set, skipping the request's own; writes
    // carry option 1, reads their usual option and the current reading.
    int foreignFrames = 0;
    Echo echo = Echo::Off;
};

// Construction settings. The Responder reads state, limits, faults and
// temperatureDrift; the rest is for SimulatedDevice.
struct Options {
    DeviceState state;
    Limits limits;
    Faults faults;
    bool temperatureDrift = false;  // each READ_TEMP moves the temperature by at most 1/32 degree, within 1 degree
    bool keepRequestLog = true;     // record every valid request for Requests()
    bool trace = false;             // one hex line per frame received and sent, on standard error
    std::string linkPath;           // when set, Start() also makes this symlink to the pseudo-terminal
    // When above 0, the line runs at this many baud (10 bits a byte): a
    // request is taken only once its bytes would have crossed it, and the
    // answer goes out one byte at a time at that pace.
    int paceBaud = 0;
};

// False for a negative count or pause, more than MAX_STRAY_BYTES junk bytes,
// more than MAX_FOREIGN_FRAMES foreign frames, or an unknown echo mode.
bool Valid(const Faults& faults);
// False when the shortest trigger period exceeds the longest.
bool Valid(const Limits& limits);
// False when any of the above is, or for a negative pace.
bool Valid(const Options& options);
// What a device says when its options are not Valid().
constexpr const char* INVALID_OPTIONS =
    "invalid options: a negative fault value or pace, or a trigger period range upside down";

// One piece of output: wait delayMs, then send bytes.
struct Chunk {
    int delayMs = 0;
    std::vector<std::uint8_t> bytes;
};

// What the device does about one valid request, or (request empty) the
// bytes a loopback line sends straight back.
struct Reply {
    std::vector<std::uint8_t> request;   // the request frame as received
    std::vector<std::uint8_t> response;  // the response frame as it goes out; empty when dropped
    std::vector<Chunk> chunks;           // the bytes to send, in order: echo, foreign frames, junk, response pieces
    bool hangUp = false;                 // close the line after sending the chunks
};

// Not thread-safe; SimulatedDevice guards its one Responder with a mutex.
class Responder {
public:
    // Negative fault values act as 0.
    explicit Responder(const Options& options = Options());

    // Takes received bytes and returns one Reply per valid request frame that
    // they complete, in order. Junk between frames is skipped up to the next
    // head; a frame with a bad length, tail or checksum gets no Reply. After
    // a Reply with hangUp, later bytes are counted but otherwise ignored until
    // BeginSession(). With Echo::Loopback the first Reply has no request and
    // sends all of `data` back.
    std::vector<Reply> Feed(const std::uint8_t* data, std::size_t size);

    // True while the receive buffer holds the start of a frame (or junk) that
    // has not been completed.
    bool HasPartialFrame() const { return !m_received.empty(); }
    // Forgets an incomplete frame, as the device does when the line goes quiet.
    void DropPartialFrame() { m_received.clear(); }

    // A new line: empty receive buffer, fault counters from 1, no hang-up.
    // State, limits, faults and the log are kept.
    void BeginSession();

    const DeviceState& State() const { return m_state; }
    void SetState(const DeviceState& state);
    // Moves the temperature, and the range it drifts in, by `celsius`; returns the new temperature.
    float ShiftTemperature(float celsius);
    const Limits& GetLimits() const { return m_limits; }
    // False (and nothing changed) when !Valid(limits).
    bool SetLimits(const Limits& limits);
    const Faults& GetFaults() const { return m_faults; }
    // False (and nothing changed) when !Valid(faults). Restarts the fault counters.
    bool SetFaults(const Faults& faults);

    const std::vector<std::vector<std::uint8_t>>& Requests() const { return m_requests; }
    std::size_t BytesReceived() const { return m_bytesReceived; }
    // Valid request frames received since construction or ClearLog().
    std::size_t RequestCount() const { return m_requestCount; }
    void ClearLog();
    bool HungUp() const { return m_hungUp; }

private:
    // The response frame to one valid request, carrying out the request. No faults.
    std::vector<std::uint8_t> Answer(const QX480Frame& request);
    Reply Handle(const std::uint8_t* frame, std::size_t size, const QX480Frame& request);
    std::uint8_t WriteCommand(const QX480Frame& request);
    void DriftTemperature();
    void ApplyResponseFaults(std::vector<std::uint8_t>& response);
    std::vector<std::uint8_t> ForeignFrames(std::uint8_t requestCmd);
    std::vector<std::uint8_t> StaleAnswer(std::uint8_t cmd) const;
    void Shape(const std::vector<std::uint8_t>& response, std::vector<std::uint8_t> lead,
               std::vector<Chunk>& chunks) const;

    DeviceState m_state;
    Limits m_limits;
    Faults m_faults;
    bool m_temperatureDrift;
    bool m_keepRequestLog;
    float m_baseTemperature;
    std::uint32_t m_driftSeed = 1;
    std::vector<std::uint8_t> m_received;
    std::vector<std::vector<std::uint8_t>> m_requests;
    std::size_t m_bytesReceived = 0;
    std::size_t m_requestCount = 0;
    std::uint64_t m_faultRequests = 0;
    std::uint64_t m_faultResponses = 0;
    std::size_t m_foreignTurn = 0;  // where the foreign frames' command codes go on from
    bool m_hungUp = false;
};

// "rx: EB 90 ..." or "tx: ..." on standard error: one frame a simulated device received or sent.
void TraceFrame(const char* direction, const std::vector<std::uint8_t>& frame);

// Puts `reply` on a line: `pause(ms)` before each chunk that asks for one and
// `write(bytes)` for its bytes, both false when the line is gone or the
// device stops; with `trace` the request and the response go to TraceFrame.
// False when the line failed or the reply hangs up.
template <class Pause, class Write>
bool SendReply(const Reply& reply, bool trace, Pause pause, Write write) {
    if (trace && !reply.request.empty()) TraceFrame("rx", reply.request);
    for (const Chunk& chunk : reply.chunks) {
        if (chunk.delayMs > 0 && !pause(chunk.delayMs)) return false;
        if (!write(chunk.bytes)) return false;
    }
    if (trace && !reply.response.empty()) TraceFrame("tx", reply.response);
    return !reply.hangUp;
}

}  // namespace sim
}  // namespace qx480

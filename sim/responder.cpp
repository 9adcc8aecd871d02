#include "responder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "commands.h"
#include "frame.h"

namespace qx480 {
namespace sim {
namespace {

// Junk for the stray-bytes fault. Cycled, it never holds EB followed by 90,
// so it cannot fake a frame head; ending on EB exercises "EB EB 90".
constexpr std::uint8_t JUNK[] = {0x55, 0xCC, 0x90, 0xEB, 0x00};

constexpr float DRIFT_STEP = 1.0f / 32;
constexpr float DRIFT_RANGE = 1.0f;

// Request PA sizes: a 64-bit time and a 32-bit trigger period.
constexpr std::size_t TIME_PA_SIZE = 8;
constexpr std::size_t TICKS_PA_SIZE = 4;

// True when `period` is positive and the count n is a multiple of it.
bool IsEvery(std::uint64_t n, int period) { return period > 0 && n % static_cast<std::uint64_t>(period) == 0; }

std::vector<std::uint8_t> Frame(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint8_t>& pa = {}) {
    std::vector<std::uint8_t> out;
    BuildFrame(cmd, opt, pa.data(), static_cast<int>(pa.size()), out);
    return out;
}

std::vector<std::uint8_t> TemperatureFrame(float celsius) {
    std::vector<std::uint8_t> pa(TEMPERATURE_SIZE);
    PutF32(pa.data(), celsius);
    return Frame(CommandCode(QX480Command::READ_TEMP), option::TEMP_RESPONSE, pa);
}

// SET_CHANNEL's option word: the on/off byte and the channel.
int SwitchedOn(const QX480Frame& r) { return r.opt & 0xFF; }
int SwitchedChannel(const QX480Frame& r) { return r.opt >> 8; }

bool KnownTriggerMode(const QX480Frame& r, const Limits&) {
    QX480TriggerMode mode;
    return TriggerModeFromOpt(r.opt, mode);
}

void SetTriggerMode(const QX480Frame& r, DeviceState& s) { s.triggerOpt = r.opt; }

bool PeriodWithinLimits(const QX480Frame& r, const Limits& limits) {
    const std::uint32_t ticks = r.ReadU32(0);
    return ticks >= limits.minTriggerTicks && ticks <= limits.maxTriggerTicks;
}

void SetPeriod(const QX480Frame& r, DeviceState& s) { s.block.triggerTicks = r.ReadU32(0); }

bool KnownChannelSwitch(const QX480Frame& r, const Limits&) {
    return IsChannel(SwitchedChannel(r)) && (SwitchedOn(r) == 0 || SwitchedOn(r) == 1);
}

void SwitchChannel(const QX480Frame& r, DeviceState& s) {
    s.channelOn[ChannelIndex(SwitchedChannel(r))] = SwitchedOn(r) == 1;
}

bool KnownOutputSwitch(const QX480Frame& r, const Limits&) {
    return r.opt == option::OUTPUT_ENABLE || r.opt == option::OUTPUT_DISABLE;
}

void SwitchOutput(const QX480Frame& r, DeviceState& s) { s.globalOutput = r.opt == option::OUTPUT_ENABLE; }

// A time request: the option word is the channel, the PA the time.
template <std::uint64_t Limits::*Longest>
bool TimeWithinLimit(const QX480Frame& r, const Limits& limits) {
    return IsChannel(r.opt) && r.ReadU64(0) <= limits.*Longest;
}

template <std::uint64_t timing::ChannelCounts::*Time>
void SetChannelTime(const QX480Frame& r, DeviceState& s) {
    s.block.channels[ChannelIndex(r.opt)].*Time = r.ReadU64(0);
}

bool AnyRequest(const QX480Frame&, const Limits&) { return true; }

void CountTrigger(const QX480Frame&, DeviceState& s) { ++s.softwareTriggers; }

// A write command: the PA size its request carries, whether the device
// takes it within the limits, and what it then changes.
struct WriteRule {
    QX480Command command;
    std::size_t paSize;
    bool (*accepts)(const QX480Frame& request, const Limits& limits);
    void (*apply)(const QX480Frame& request, DeviceState& state);
};

constexpr WriteRule WRITES[] = {
    {QX480Command::SET_TRIGGER, 0, KnownTriggerMode, SetTriggerMode},
    {QX480Command::SET_TRIG_FREQ, TICKS_PA_SIZE, PeriodWithinLimits, SetPeriod},
    {QX480Command::SET_CHANNEL, 0, KnownChannelSwitch, SwitchChannel},
    {QX480Command::SET_GLOBAL_OUTPUT, 0, KnownOutputSwitch, SwitchOutput},
    {QX480Command::SET_DELAY, TIME_PA_SIZE, TimeWithinLimit<&Limits::maxDelayCounts>,
     SetChannelTime<&timing::ChannelCounts::delay>},
    {QX480Command::SET_PULSE_WIDTH, TIME_PA_SIZE, TimeWithinLimit<&Limits::maxWidthCounts>,
     SetChannelTime<&timing::ChannelCounts::width>},
    {QX480Command::SOFTWARE_TRIG, 0, AnyRequest, CountTrigger},
};

std::vector<std::uint8_t> TemperatureAnswer(const DeviceState& s) { return TemperatureFrame(s.temperature); }

std::vector<std::uint8_t> TimingAnswer(const DeviceState& s) {
    return Frame(CommandCode(QX480Command::READ_TIMING), option::TIMING_RESPONSE, timing::Encode(s.block));
}

// A query: its request carries no PA; the answer reports the state.
struct ReadRule {
    QX480Command command;
    std::vector<std::uint8_t> (*answer)(const DeviceState& state);  // changes nothing
    bool drifts;  // with temperature drift on, the reading moves before each answer
};

constexpr ReadRule READS[] = {
    {QX480Command::READ_TEMP, TemperatureAnswer, true},
    {QX480Command::READ_TIMING, TimingAnswer, false},
};

// The rule for command code `cmd`, or null.
template <class Rule, std::size_t N>
const Rule* FindRule(const Rule (&rules)[N], std::uint8_t cmd) {
    for (const Rule& rule : rules) {
        if (CommandCode(rule.command) == cmd) return &rule;
    }
    return nullptr;
}

// The device's command set as the foreign frames go round it, the writes
// then the reads: the command at `turn`, counting round and round.
std::uint8_t CommandAt(std::size_t turn) {
    const std::size_t i = turn % (std::size(WRITES) + std::size(READS));
    return CommandCode(i < std::size(WRITES) ? WRITES[i].command : READS[i - std::size(WRITES)].command);
}

// What a loopback line sends back: all of it, at once.
Reply LoopedBack(const std::uint8_t* data, std::size_t size) {
    Reply reply;
    reply.chunks.push_back({0, std::vector<std::uint8_t>(data, data + size)});
    return reply;
}

bool KnownEcho(Echo echo) { return echo == Echo::Off || echo == Echo::Loopback || echo == Echo::LocalEcho; }

// Position of the next EB 90 at or after `from`; a lone EB at the very end
// counts as a head whose second byte has not arrived yet.
std::size_t FindHead(const std::vector<std::uint8_t>& buf, std::size_t from) {
    for (std::size_t i = from; i < buf.size(); ++i) {
        if (buf[i] != frame::HEAD0) continue;
        if (i + 1 == buf.size() || buf[i + 1] == frame::HEAD1) return i;
    }
    return buf.size();
}

}  // namespace

bool Valid(const Faults& f) {
    return f.strayBytes >= 0 && f.strayBytes <= MAX_STRAY_BYTES && f.pieces >= 0 && f.pieceGapMs >= 0 &&
           f.answerDelayMs >= 0 && f.dropEvery >= 0 && f.corruptEvery >= 0 && f.hangUpAfter >= 0 &&
           f.foreignFrames >= 0 && f.foreignFrames <= MAX_FOREIGN_FRAMES && KnownEcho(f.echo);
}

bool Valid(const Limits& limits) { return limits.minTriggerTicks <= limits.maxTriggerTicks; }

bool Valid(const Options& options) { return Valid(options.faults) && Valid(options.limits) && options.paceBaud >= 0; }

timing::Block PowerOnBlock() {
    timing::Block block;
    block.triggerTicks = DEFAULT_TRIGGER_TICKS;
    return block;
}

bool operator==(const DeviceState& a, const DeviceState& b) {
    return timing::Encode(a.block) == timing::Encode(b.block) && a.channelOn == b.channelOn &&
           a.globalOutput == b.globalOutput && a.triggerOpt == b.triggerOpt &&
           a.softwareTriggers == b.softwareTriggers &&
           std::memcmp(&a.temperature, &b.temperature, sizeof a.temperature) == 0;
}

bool operator!=(const DeviceState& a, const DeviceState& b) { return !(a == b); }

Responder::Responder(const Options& options)
    : m_state(options.state),
      m_limits(options.limits),
      m_faults(options.faults),
      m_temperatureDrift(options.temperatureDrift),
      m_keepRequestLog(options.keepRequestLog),
      m_baseTemperature(options.state.temperature) {}

void Responder::BeginSession() {
    m_received.clear();
    m_faultRequests = 0;
    m_faultResponses = 0;
    m_foreignTurn = 0;
    m_hungUp = false;
}

void Responder::SetState(const DeviceState& state) {
    m_state = state;
    m_baseTemperature = state.temperature;
}

float Responder::ShiftTemperature(float celsius) {
    m_state.temperature += celsius;
    m_baseTemperature += celsius;
    return m_state.temperature;
}

bool Responder::SetLimits(const Limits& limits) {
    if (!Valid(limits)) return false;
    m_limits = limits;
    return true;
}

bool Responder::SetFaults(const Faults& faults) {
    if (!Valid(faults)) return false;
    m_faults = faults;
    m_faultRequests = 0;
    m_faultResponses = 0;
    m_foreignTurn = 0;
    return true;
}

void Responder::ClearLog() {
    m_requests.clear();
    m_bytesReceived = 0;
    m_requestCount = 0;
}

std::vector<Reply> Responder::Feed(const std::uint8_t* data, std::size_t size) {
    m_bytesReceived += size;
    std::vector<Reply> replies;
    if (m_hungUp || size == 0) return replies;
    if (m_faults.echo == Echo::Loopback) replies.push_back(LoopedBack(data, size));
    m_received.insert(m_received.end(), data, data + size);
    std::size_t pos = 0;
    QX480Frame request{};
    while (!m_hungUp) {
        pos = FindHead(m_received, pos);
        const std::size_t available = m_received.size() - pos;
        if (available < static_cast<std::size_t>(frame::CMD_OFFSET)) break;
        const std::size_t frameSize =
            static_cast<std::size_t>(GetU16(&m_received[pos + frame::LEN_OFFSET])) + frame::LEN_TO_FRAME;
        if (frameSize < static_cast<std::size_t>(frame::MIN_FRAME)) {
            ++pos;  // not a frame after all: hunt on from the byte after this head
            continue;
        }
        if (available < frameSize) break;
        const std::uint8_t* start = &m_received[pos];
        if (!ParseFrame(start, static_cast<int>(frameSize), request)) {
            ++pos;
            continue;
        }
        replies.push_back(Handle(start, frameSize, request));
        pos += frameSize;
    }
    m_received.erase(m_received.begin(), m_received.begin() + static_cast<std::ptrdiff_t>(pos));
    if (m_hungUp) m_received.clear();
    return replies;
}

Reply Responder::Handle(const std::uint8_t* frame, std::size_t size, const QX480Frame& request) {
    Reply reply;
    reply.request.assign(frame, frame + size);
    ++m_requestCount;
    if (m_keepRequestLog) m_requests.push_back(reply.request);
    const std::uint64_t n = ++m_faultRequests;
    if (m_faults.echo == Echo::LocalEcho) reply.chunks.push_back({0, reply.request});
    if (m_faults.echo != Echo::Loopback && !IsEvery(n, m_faults.dropEvery)) {
        reply.response = Answer(request);
        ApplyResponseFaults(reply.response);
        Shape(reply.response, ForeignFrames(request.cmd), reply.chunks);
    }
    if (m_faults.hangUpAfter > 0 && n >= static_cast<std::uint64_t>(m_faults.hangUpAfter)) {
        reply.hangUp = true;
        m_hungUp = true;
    }
    return reply;
}

std::vector<std::uint8_t> Responder::Answer(const QX480Frame& request) {
    const ReadRule* read = FindRule(READS, request.cmd);
    if (read == nullptr) return Frame(request.cmd, WriteCommand(request));
    if (!request.pa.empty()) return Frame(request.cmd, option::RESPONSE_REFUSED);
    if (read->drifts) DriftTemperature();
    return read->answer(m_state);
}

std::vector<std::uint8_t> Responder::ForeignFrames(std::uint8_t requestCmd) {
    std::vector<std::uint8_t> frames;
    for (int i = 0; i < m_faults.foreignFrames; ++i) {
        std::uint8_t cmd;
        do {
            cmd = CommandAt(m_foreignTurn++);
        } while (cmd == requestCmd);
        const std::vector<std::uint8_t> frame = StaleAnswer(cmd);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

// An answer to an earlier request of `cmd`, as the device would have sent it; changes nothing.
std::vector<std::uint8_t> Responder::StaleAnswer(std::uint8_t cmd) const {
    const ReadRule* read = FindRule(READS, cmd);
    return read != nullptr ? read->answer(m_state) : Frame(cmd, option::RESPONSE_OK);
}

// Carries out a write command; returns the response option: accepted or refused.
std::uint8_t Responder::WriteCommand(const QX480Frame& r) {
    const WriteRule* write = FindRule(WRITES, r.cmd);
    if (write == nullptr || r.pa.size() != write->paSize || !write->accepts(r, m_limits)) {
        return option::RESPONSE_REFUSED;
    }
    write->apply(r, m_state);
    return option::RESPONSE_OK;
}

// With drift on, a small random walk (a fixed-seed generator, so runs repeat)
// that stays within DRIFT_RANGE of the temperature last set.
void Responder::DriftTemperature() {
    if (!m_temperatureDrift) return;
    m_driftSeed = m_driftSeed * 1103515245u + 12345u;
    const int step = static_cast<int>((m_driftSeed >> 16) % 3) - 1;
    const float next = m_state.temperature + static_cast<float>(step) * DRIFT_STEP;
    m_state.temperature = std::clamp(next, m_baseTemperature - DRIFT_RANGE, m_baseTemperature + DRIFT_RANGE);
}

void Responder::ApplyResponseFaults(std::vector<std::uint8_t>& response) {
    if (IsEvery(++m_faultResponses, m_faults.corruptEvery)) {
        const std::size_t checksumLow = response.size() - frame::OVERHEAD + frame::PA_OFFSET;
        response[checksumLow] ^= 0xFF;
    }
    if (m_faults.shortLength) PutU16(&response[frame::LEN_OFFSET], frame::MIN_LEN - 1);
}

// Appends the response in pieces to `chunks`; the first piece goes out after
// `lead` and the junk.
void Responder::Shape(const std::vector<std::uint8_t>& response, std::vector<std::uint8_t> lead,
                      std::vector<Chunk>& chunks) const {
    for (int i = 0; i < m_faults.strayBytes; ++i) lead.push_back(JUNK[static_cast<std::size_t>(i) % sizeof JUNK]);
    const std::size_t pieces = std::clamp<std::size_t>(static_cast<std::size_t>(m_faults.pieces), 1, response.size());
    std::size_t from = 0;
    for (std::size_t p = 0; p < pieces; ++p) {
        const std::size_t to = response.size() * (p + 1) / pieces;
        Chunk chunk;
        chunk.delayMs = p == 0 ? m_faults.answerDelayMs : m_faults.pieceGapMs;
        if (p == 0) chunk.bytes = std::move(lead);
        chunk.bytes.insert(chunk.bytes.end(), response.begin() + static_cast<std::ptrdiff_t>(from),
                           response.begin() + static_cast<std::ptrdiff_t>(to));
        chunks.push_back(std::move(chunk));
        from = to;
    }
}

void TraceFrame(const char* direction, const std::vector<std::uint8_t>& frame) {
    std::string line = std::string(direction) + ":";
    char byte[4];
    for (std::uint8_t b : frame) {
        std::snprintf(byte, sizeof byte, " %02X", b);
        line += byte;
    }
    line += "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace sim
}  // namespace qx480

#include "operations.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <tuple>
#include <type_traits>

namespace qx480 {
namespace soak {
namespace {

using sim::DeviceState;

constexpr double SLOWEST_HZ = 0.1;
constexpr double HIGHEST_REFUSED_HZ = 1e9;
// Keeps rates off the edge where rounding could tip the period to one tick less.
constexpr double ACCEPTED_MARGIN = 0.999;
constexpr unsigned OPTION_LOW_BYTE = 0xFF;

// Indexed by Op.
constexpr QX480Command COMMANDS[] = {
    QX480Command::SET_TRIGGER,       QX480Command::SET_TRIG_FREQ, QX480Command::SET_CHANNEL,
    QX480Command::SET_GLOBAL_OUTPUT, QX480Command::SET_DELAY,     QX480Command::SET_PULSE_WIDTH,
    QX480Command::SOFTWARE_TRIG,     QX480Command::READ_TEMP,     QX480Command::READ_TIMING,
};
static_assert(sizeof COMMANDS / sizeof COMMANDS[0] == static_cast<std::size_t>(Op::ReadTimingConfig) + 1,
              "one command per operation");

constexpr Op ANY_OP[] = {Op::SetTrigger,    Op::SetFrequency,    Op::SetChannel,      Op::SetGlobalOutput, Op::SetDelay,
                         Op::SetPulseWidth, Op::SoftwareTrigger, Op::ReadTemperature, Op::ReadTimingConfig};
constexpr Op REFUSABLE_OP[] = {Op::SetFrequency, Op::SetDelay, Op::SetPulseWidth};

template <class T>
T Uniform(std::mt19937_64& random, T lo, T hi) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::uniform_real_distribution<T>(lo, hi)(random);
    } else {
        return std::uniform_int_distribution<T>(lo, hi)(random);
    }
}

std::uint8_t CommandOf(Op op) { return CommandCode(COMMANDS[static_cast<std::size_t>(op)]); }

// One of `choices`, drawn again while it has the command code to avoid.
template <std::size_t N>
Op RandomOp(std::mt19937_64& random, const Op (&choices)[N], AvoidCommand avoid) {
    Op op;
    do {
        op = choices[Uniform<std::size_t>(random, 0, N - 1)];
    } while (avoid && CommandOf(op) == *avoid);
    return op;
}

int RandomChannel(std::mt19937_64& random) { return Uniform(random, 1, QX480DDG::CHANNEL_COUNT); }

std::size_t Index(int channel) { return static_cast<std::size_t>(channel - 1); }

// Rates spread evenly over the decades the device accepts.
double RandomRate(std::mt19937_64& random, double lo, double hi) {
    return std::exp(Uniform(random, std::log(lo), std::log(hi)));
}

double FastestAcceptedHz(const sim::Limits& limits) {
    return units::NS_PER_SECOND / (units::NS_PER_TICK * static_cast<double>(limits.minTriggerTicks));
}

std::int64_t LongestAcceptedNs(std::uint64_t counts) { return units::WireToTime(counts); }

std::uint32_t Ticks(double hz) {
    std::uint32_t ticks = 0;
    units::FrequencyToWire(hz, ticks);
    return ticks;
}

bool SameState(const DeviceState& a, const DeviceState& b) { return a == b; }

// The state `before` with the command carried out.
DeviceState Expected(const Operation& o, DeviceState s) {
    switch (o.op) {
        case Op::SetTrigger: s.triggerOpt = TriggerModeOpt(o.mode); break;
        case Op::SetFrequency: s.block.triggerTicks = Ticks(o.hz); break;
        case Op::SetChannel: s.channelOn[Index(o.channel)] = o.on; break;
        case Op::SetGlobalOutput: s.globalOutput = o.on; break;
        case Op::SetDelay: s.block.channels[Index(o.channel)].delay = static_cast<std::uint64_t>(o.ns) * units::COUNTS_PER_NS; break;
        case Op::SetPulseWidth:
            s.block.channels[Index(o.channel)].width = static_cast<std::uint64_t>(o.ns) * units::COUNTS_PER_NS;
            break;
        case Op::SoftwareTrigger: ++s.softwareTriggers; break;
        case Op::ReadTemperature:
        case Op::ReadTimingConfig: break;
    }
    return s;
}

// The option word the request goes out with.
std::uint16_t RequestOption(const Operation& o) {
    switch (o.op) {
        case Op::SetTrigger: return TriggerModeOpt(o.mode);
        case Op::SetChannel: return ChannelOpt(o.channel, o.on);
        case Op::SetGlobalOutput: return o.on ? option::OUTPUT_ENABLE : option::OUTPUT_DISABLE;
        case Op::SetDelay:
        case Op::SetPulseWidth: return static_cast<std::uint16_t>(o.channel);
        case Op::SetFrequency:
        case Op::SoftwareTrigger:
        case Op::ReadTemperature:
        case Op::ReadTimingConfig: return option::NONE;
    }
    return option::NONE;
}

auto Fields(const QX480TimingConfig& t) {
    return std::tie(t.channel, t.delayNs, t.widthNs, t.byte131, t.triggerFreqHz, t.byte130, t.word128, t.word138,
                    t.byte136, t.byte137, t.time140Ns, t.time204Ns, t.float276);
}

std::string CheckTiming(const Operation& o, const DeviceState& s) {
    const QX480TimingConfig& t = o.timing;
    const std::size_t i = Index(o.channel);
    const bool same = t.channel == o.channel && t.delayNs == units::WireToTime(s.block.channels[i].delay) &&
                      t.widthNs == units::WireToTime(s.block.channels[i].width) &&
                      t.triggerFreqHz == units::WireToFrequency(s.block.triggerTicks);
    return same ? "" : "the timing read back differs from the device's";
}

}  // namespace

std::uint8_t Operation::Command() const { return CommandOf(op); }

std::string Operation::Describe() const {
    char text[160];
    switch (op) {
        case Op::SetTrigger: std::snprintf(text, sizeof text, "SetTrigger(%d)", static_cast<int>(mode)); break;
        case Op::SetFrequency: std::snprintf(text, sizeof text, "SetInternalTriggerFreq(%.6g)", hz); break;
        case Op::SetChannel: std::snprintf(text, sizeof text, "SetOutputChannel(%d, %d)", channel, on); break;
        case Op::SetGlobalOutput: std::snprintf(text, sizeof text, "SetGlobalOutput(%d)", on); break;
        case Op::SetDelay:
            std::snprintf(text, sizeof text, "SetDelay(%d, %lld)", channel, static_cast<long long>(ns));
            break;
        case Op::SetPulseWidth:
            std::snprintf(text, sizeof text, "SetPulseWidth(%d, %lld)", channel, static_cast<long long>(ns));
            break;
        case Op::SoftwareTrigger: std::snprintf(text, sizeof text, "SoftwareTrigger()"); break;
        case Op::ReadTemperature: std::snprintf(text, sizeof text, "ReadTemperature()"); break;
        case Op::ReadTimingConfig: std::snprintf(text, sizeof text, "ReadTimingConfig(%d)", channel); break;
    }
    return text;
}

Operation RandomOperation(std::mt19937_64& random, const sim::Limits& limits, AvoidCommand avoid) {
    Operation o;
    o.op = RandomOp(random, ANY_OP, avoid);
    o.channel = RandomChannel(random);
    o.on = Uniform(random, 0, 1) == 1;
    o.mode = static_cast<QX480TriggerMode>(Uniform(random, 0, 2));
    o.hz = RandomRate(random, SLOWEST_HZ, FastestAcceptedHz(limits) * ACCEPTED_MARGIN);
    const std::uint64_t counts = o.op == Op::SetPulseWidth ? limits.maxWidthCounts : limits.maxDelayCounts;
    o.ns = Uniform<std::int64_t>(random, 0, LongestAcceptedNs(counts));
    return o;
}

Operation RandomRefusedOperation(std::mt19937_64& random, const sim::Limits& limits, AvoidCommand avoid) {
    Operation o;
    o.op = RandomOp(random, REFUSABLE_OP, avoid);
    o.channel = RandomChannel(random);
    // Just above the fastest rate the device takes, up to rates whose period rounds to 0 ticks.
    o.hz = RandomRate(random, FastestAcceptedHz(limits) / ACCEPTED_MARGIN, HIGHEST_REFUSED_HZ);
    const std::uint64_t counts = o.op == Op::SetPulseWidth ? limits.maxWidthCounts : limits.maxDelayCounts;
    o.ns = Uniform<std::int64_t>(random, LongestAcceptedNs(counts) + 1, units::MAX_TIME_NS);
    return o;
}

bool Perform(QX480DDG& d, Operation& o, QX480Outcome& out) {
    switch (o.op) {
        case Op::SetTrigger: return d.SetTrigger(o.mode, out);
        case Op::SetFrequency: return d.SetInternalTriggerFreq(o.hz, out);
        case Op::SetChannel: return d.SetOutputChannel(o.channel, o.on, out);
        case Op::SetGlobalOutput: return d.SetGlobalOutput(o.on, out);
        case Op::SetDelay: return d.SetDelay(o.channel, o.ns, out);
        case Op::SetPulseWidth: return d.SetPulseWidth(o.channel, o.ns, out);
        case Op::SoftwareTrigger: return d.SoftwareTrigger(out);
        case Op::ReadTemperature: return d.ReadTemperature(&o.celsius, out);
        case Op::ReadTimingConfig: return d.ReadTimingConfig(o.channel, &o.timing, out);
    }
    return false;
}

QX480Status EchoStatus(const Operation& o) {
    if (o.IsQuery()) return QX480Status::Echo;
    const bool readsAsAccepted = (RequestOption(o) & OPTION_LOW_BYTE) == option::RESPONSE_OK;
    return readsAsAccepted ? QX480Status::Accepted : QX480Status::Refused;
}

std::string CheckApplied(const Operation& o, const DeviceState& before, const DeviceState& after) {
    if (o.op == Op::ReadTemperature && o.celsius != after.temperature) return "the temperature read back differs";
    if (o.op == Op::ReadTimingConfig) {
        const std::string wrong = CheckTiming(o, after);
        if (!wrong.empty()) return wrong;
    }
    return CheckCarriedOut(o, before, after);
}

std::string CheckCarriedOut(const Operation& o, const DeviceState& before, const DeviceState& after) {
    return SameState(Expected(o, before), after) ? "" : "the device does not hold what the request set";
}

std::string CheckUnchanged(const DeviceState& before, const DeviceState& after) {
    return SameState(before, after) ? "" : "the device changed though it never carried out the request";
}

std::string CheckUnread(const Operation& o) {
    if (o.op == Op::ReadTemperature && o.celsius != UNREAD_CELSIUS) return "the failed query wrote a temperature";
    if (o.op == Op::ReadTimingConfig && Fields(o.timing) != Fields(UNREAD_TIMING)) {
        return "the failed query wrote a timing record";
    }
    return "";
}

}  // namespace soak
}  // namespace qx480

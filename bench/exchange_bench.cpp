// Exchanges with the simulated device over a pseudo-terminal, beside the
// floor of a bare poll-based ping-pong on the same kind of line, measured in
// turns in one run; the same exchange through ser2net as socket:// and as
// rfc2217:// beside the pseudo-terminal directly; and the CPU time of a call
// that waits out its limit because no answer comes.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <time.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "latency.h"
#include "pty_ping_pong.h"
#include "qx480ddg.h"
#include "ser2net.h"
#include "simulated_device.h"
#include "table.h"

namespace {

using qx480::bench::BAUD;
using qx480::bench::CALLS_PER_BLOCK;
using qx480::bench::TIMING_CHANNEL;
using qx480::bench::WAITING_CALLS;
using qx480::bench::WARM_UP_CALLS;
using Clock = std::chrono::steady_clock;
using qx480::bench::Latencies;
using qx480::test::AllocationMeter;

constexpr int CALLS = 10000;
// Through ser2net an exchange takes milliseconds: fewer calls keep the run short.
constexpr int SER2NET_CALLS = 1000;

// The simulated device on its pseudo-terminal and a driver that has it open;
// the driver closes first.
class SimulatedLine {
public:
    explicit SimulatedLine(const qx480::sim::Faults& faults = {}) : m_sim(OptionsWith(faults)) {
        m_ok = m_sim.Start() && m_device.Open(m_sim.Path().c_str(), BAUD);
    }
    // Through a ser2net in front of the device's line: socket:// when `raw`, else rfc2217://.
    SimulatedLine(bool raw, bool charDelay) : m_sim(OptionsWith({})) {
        m_ok = m_sim.Start() && m_ser2net.Start(m_sim.Path(), charDelay) &&
               m_device.Open((raw ? m_ser2net.RawUrl() : m_ser2net.Rfc2217Url()).c_str(), BAUD);
    }
    bool Ok() const { return m_ok; }
    QX480DDG& Device() { return m_device; }

private:
    static qx480::sim::Options OptionsWith(const qx480::sim::Faults& faults) {
        qx480::sim::Options options;
        options.faults = faults;
        options.keepRequestLog = false;
        return options;
    }
    qx480::sim::SimulatedDevice m_sim;
    qx480::test::Ser2net m_ser2net;
    QX480DDG m_device;
    bool m_ok = false;
};

// One kind of round trip: its name in the counters, the call (false when the
// exchange failed) and the times measured.
struct RoundTrip {
    const char* name;
    std::function<bool()> call;
    Latencies latencies{CALLS};
    std::uint64_t allocations = 0;  // by the calling thread, in the timed calls
};

bool WarmUp(RoundTrip& r) {
    for (int i = 0; i < WARM_UP_CALLS; ++i) {
        if (!r.call()) return false;
    }
    return true;
}

// Times each call on its own and gives each kind a block of calls in turn,
// so that the load of the shared machine falls alike on all of them.
bool Measure(std::vector<RoundTrip>& kinds, int calls = CALLS) {
    for (int round = 0; round < calls / CALLS_PER_BLOCK; ++round) {
        for (RoundTrip& r : kinds) {
            const AllocationMeter allocations(AllocationMeter::ThisThread);
            for (int i = 0; i < CALLS_PER_BLOCK; ++i) {
                const Clock::time_point start = Clock::now();
                const bool ok = r.call();
                r.latencies.Add(Clock::now() - start);
                if (!ok) return false;
            }
            r.allocations += allocations.Count();
        }
    }
    return true;
}

bool MeasureAll(benchmark::State& state, qx480::bench::PtyPingPong& floor, SimulatedLine& line) {
    float celsius = 0;
    QX480TimingConfig config{};
    std::vector<RoundTrip> kinds;
    kinds.push_back({"floor", [&] { return floor.RoundTrip(); }});
    kinds.push_back({"temperature", [&] { return line.Device().ReadTemperature(&celsius); }});
    kinds.push_back({"timing", [&] { return line.Device().ReadTimingConfig(TIMING_CHANNEL, &config); }});
    for (auto _ : state) {
        for (RoundTrip& r : kinds) {
            if (!WarmUp(r)) return false;
        }
        if (!Measure(kinds)) return false;
    }
    for (RoundTrip& r : kinds) {
        const std::string name = r.name;
        state.counters[name + "_median_us"] = r.latencies.MedianUs();
        state.counters[name + "_p99_us"] = r.latencies.P99Us();
        state.counters[name + "_max_us"] = r.latencies.MaxUs();
        state.counters[name + "_calls"] = static_cast<double>(r.latencies.Count());
        state.counters[name + "_allocs_per_call"] =
            static_cast<double>(r.allocations) / static_cast<double>(r.latencies.Count());
    }
    return true;
}

// Pins the calling thread, and the threads it starts from now on, to one CPU.
bool PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

// The first two CPUs this process may use, or false when it has only one.
bool TwoCpus(const cpu_set_t& allowed, int& first, int& second) {
    first = second = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE && second < 0; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        (first < 0 ? first : second) = cpu;
    }
    return second >= 0;
}

// The floor, ReadTemperature and ReadTimingConfig, each CALLS times. Where
// the threads run decides the floor: a wake-up on the same CPU costs far
// less than one on another, so both placements are measured, each pinned:
// the answering threads (the echo's and the device's) on one CPU and the
// caller on the same CPU or on the other.
template <bool SameCpu>
void RoundTrips(benchmark::State& state) {
    cpu_set_t allowed;
    int answerCpu = 0;
    int callerCpu = 0;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || !TwoCpus(allowed, callerCpu, answerCpu)) {
        state.SkipWithError("needs two CPUs");
        return;
    }
    if (SameCpu) callerCpu = answerCpu;
    if (!PinTo(answerCpu)) {
        state.SkipWithError("cannot pin the threads to a CPU");
        return;
    }
    qx480::bench::PtyPingPong floor;
    const bool started = floor.Start();
    SimulatedLine line;
    const bool measured = started && line.Ok() && PinTo(callerCpu) && MeasureAll(state, floor, line);
    sched_setaffinity(0, sizeof allowed, &allowed);
    if (!started || !line.Ok()) {
        state.SkipWithError("cannot make a pseudo-terminal pair or start the simulated device");
    } else if (!measured) {
        state.SkipWithError("a call failed");
    }
}

// ReadTemperature on five simulated devices in turns: one on its
// pseudo-terminal, the others behind ser2net's raw TCP accepter or its telnet
// (RFC 2217) accepter, with ser2net's character delay (its default) and
// without; all on loopback, unpinned.
void ThroughSer2net(benchmark::State& state) {
    if (!qx480::test::HaveSer2net()) {
        state.SkipWithError("ser2net is not installed");
        return;
    }
    SimulatedLine pty;
    SimulatedLine raw(true, true);
    SimulatedLine rfc2217(false, true);
    SimulatedLine rawNoDelay(true, false);
    SimulatedLine rfc2217NoDelay(false, false);
    if (!pty.Ok() || !raw.Ok() || !rfc2217.Ok() || !rawNoDelay.Ok() || !rfc2217NoDelay.Ok()) {
        state.SkipWithError("cannot start a simulated device, ser2net, or open a line");
        return;
    }
    float celsius = 0;
    std::vector<RoundTrip> kinds;
    kinds.push_back({"pty", [&] { return pty.Device().ReadTemperature(&celsius); }});
    kinds.push_back({"socket", [&] { return raw.Device().ReadTemperature(&celsius); }});
    kinds.push_back({"rfc2217", [&] { return rfc2217.Device().ReadTemperature(&celsius); }});
    kinds.push_back({"socket_nodelay", [&] { return rawNoDelay.Device().ReadTemperature(&celsius); }});
    kinds.push_back({"rfc2217_nodelay", [&] { return rfc2217NoDelay.Device().ReadTemperature(&celsius); }});
    for (auto _ : state) {
        for (RoundTrip& r : kinds) {
            if (!WarmUp(r)) return state.SkipWithError("a call failed");
        }
        if (!Measure(kinds, SER2NET_CALLS)) return state.SkipWithError("a call failed");
    }
    for (RoundTrip& r : kinds) {
        const std::string name = r.name;
        state.counters[name + "_median_us"] = r.latencies.MedianUs();
        state.counters[name + "_p99_us"] = r.latencies.P99Us();
        state.counters[name + "_calls"] = static_cast<double>(r.latencies.Count());
    }
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The device drops every request, so each call waits out its whole limit.
void WaitWithoutAnswer(benchmark::State& state) {
    qx480::sim::Faults faults;
    faults.dropEvery = 1;
    SimulatedLine line(faults);
    if (!line.Ok()) {
        state.SkipWithError("cannot start the simulated device or open its line");
        return;
    }
    double cpuMs = 0;
    double wallMs = 0;
    float celsius = 0;
    for (auto _ : state) {
        const double cpuStart = ThreadCpuMs();
        const Clock::time_point start = Clock::now();
        const bool answered = line.Device().ReadTemperature(&celsius);
        wallMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        cpuMs += ThreadCpuMs() - cpuStart;
        if (answered) {
            state.SkipWithError("a dropped request was answered");
            return;
        }
    }
    state.counters["cpu_ms_per_call"] = cpuMs / WAITING_CALLS;
    state.counters["wall_ms_per_call"] = wallMs / WAITING_CALLS;
}

}  // namespace

BENCHMARK(RoundTrips<false>)
    ->Name("exchange/round_trips_cross_cpu")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RoundTrips<true>)
    ->Name("exchange/round_trips_same_cpu")
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ThroughSer2net)->Name("exchange/ser2net")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(WaitWithoutAnswer)
    ->Name("waiting/ReadTemperature_no_answer")
    ->Iterations(WAITING_CALLS)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

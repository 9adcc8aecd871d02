// qx480-bench: runs the benchmarks (Google Benchmark's flags apply), prints
// their usual report and then one table of the figures that matter, each
// beside its goal.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "commands.h"
#include "table.h"

namespace {

using qx480::bench::Format;
using qx480::bench::Row;

using Run = benchmark::BenchmarkReporter::Run;

constexpr double EXCHANGE_GOAL_RATIO = 1.1;
constexpr double WAITING_GOAL_CPU_MS = 20.0;

// The console report without colours (it usually goes to a pipe), keeping
// each run by the benchmark's own name, without the iteration suffixes.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    CollectingReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) m_runs[run.run_name.function_name] = run;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The named counter of a benchmark that ran, or nullptr.
    const benchmark::Counter* Counter(const std::string& benchmark, const std::string& counter) const {
        const auto run = m_runs.find(benchmark);
        if (run == m_runs.end()) return nullptr;
        const auto c = run->second.counters.find(counter);
        return c == run->second.counters.end() ? nullptr : &c->second;
    }

private:
    std::map<std::string, Run> m_runs;
};

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

void CodecRow(const CollectingReporter& r, const std::string& name, const std::string& what) {
    const auto* frames = r.Counter(name, "items_per_second");
    const auto* bytes = r.Counter(name, "bytes_per_second");
    const auto* allocs = r.Counter(name, "allocs_per_call");
    if (frames == nullptr || bytes == nullptr || allocs == nullptr) {
        Row(what, "not measured", "0 allocations per call");
        return;
    }
    Row(what, Format("%.1f M frames/s, %.0f MB/s, %.2f allocs/call", *frames / 1e6, *bytes / 1e6, *allocs),
        std::string("0 allocs/call: ") + Verdict(*allocs == 0));
}

// Returns the median, or 0 when it was not measured.
double LatencyRow(const CollectingReporter& r, const std::string& run, const std::string& kind, const std::string& what,
                  const std::string& goal) {
    const auto* median = r.Counter(run, kind + "_median_us");
    const auto* p99 = r.Counter(run, kind + "_p99_us");
    const auto* calls = r.Counter(run, kind + "_calls");
    if (median == nullptr || p99 == nullptr || calls == nullptr) {
        Row(what, "not measured", goal);
        return 0;
    }
    const auto* allocs = r.Counter(run, kind + "_allocs_per_call");
    std::string result = Format("median %.1f us, p99 %.1f us, %.0f calls", *median, *p99, *calls);
    if (allocs != nullptr) result += Format(", %.1f allocs/call", *allocs);
    Row(what, result, goal);
    return *median;
}

void ExchangeRow(const CollectingReporter& r, const std::string& run, const std::string& kind, const std::string& what,
                 double floorUs) {
    const auto* median = r.Counter(run, kind + "_median_us");
    std::string goal = "median <= 1.1 x floor";
    if (median != nullptr && floorUs > 0) {
        const double ratio = *median / floorUs;
        goal = Format("%.2f x floor: ", ratio) + Verdict(ratio <= EXCHANGE_GOAL_RATIO);
    }
    LatencyRow(r, run, kind, what, goal);
}

// The floor and both exchanges of one thread placement.
void PlacementRows(const CollectingReporter& r, const std::string& run, const std::string& placement) {
    const double floorUs = LatencyRow(r, run, "floor", "floor: 10-byte pty ping-pong, " + placement, "reference");
    ExchangeRow(r, run, "temperature", "exchange: ReadTemperature, " + placement, floorUs);
    ExchangeRow(r, run, "timing", "exchange: ReadTimingConfig, " + placement, floorUs);
}

// The same ReadTemperature through ser2net, against the pseudo-terminal directly.
void Ser2netRows(const CollectingReporter& r) {
    const std::string run = "exchange/ser2net";
    const double ptyUs = LatencyRow(r, run, "pty", "ser2net: ReadTemperature on the pty directly", "reference");
    const struct {
        const char* kind;
        const char* what;
    } ROWS[] = {
        {"socket", "ser2net: ReadTemperature, socket://"},
        {"rfc2217", "ser2net: ReadTemperature, rfc2217://"},
        {"socket_nodelay", "ser2net: ReadTemperature, socket://, chardelay off"},
        {"rfc2217_nodelay", "ser2net: ReadTemperature, rfc2217://, chardelay off"},
    };
    for (const auto& row : ROWS) {
        const auto* median = r.Counter(run, std::string(row.kind) + "_median_us");
        const std::string ratio = median != nullptr && ptyUs > 0 ? Format("%.2f x the pty", *median / ptyUs) : "";
        LatencyRow(r, run, row.kind, row.what, ratio);
    }
}

void WaitingRow(const CollectingReporter& r) {
    const std::string name = "waiting/ReadTemperature_no_answer";
    const std::string what = "waiting: ReadTemperature, no answer (1000 ms limit)";
    const auto* cpu = r.Counter(name, "cpu_ms_per_call");
    const auto* wall = r.Counter(name, "wall_ms_per_call");
    if (cpu == nullptr || wall == nullptr) {
        Row(what, "not measured", "< 20 ms CPU");
        return;
    }
    Row(what, Format("%.3f ms CPU in %.0f ms wall per call", *cpu, *wall),
        std::string("< 20 ms CPU: ") + Verdict(*cpu < WAITING_GOAL_CPU_MS));
}

void PrintTable(const CollectingReporter& r) {
    std::printf("\nPerformance (native)\n");
    Row("measurement", "result", "goal");
    std::printf("|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(62, '-').c_str(),
                std::string(28, '-').c_str());
    CodecRow(r, "codec/BuildFrame/10B", "codec: BuildFrame, 10-byte frame");
    CodecRow(r, "codec/BuildFrame/358B", "codec: BuildFrame, 358-byte frame");
    CodecRow(r, "codec/ParseFrame/10B", "codec: ParseFrame, 10-byte frame");
    CodecRow(r, "codec/ParseFrame/358B", "codec: ParseFrame, 358-byte frame");
    PlacementRows(r, "exchange/round_trips_cross_cpu", "caller on another CPU");
    PlacementRows(r, "exchange/round_trips_same_cpu", "caller on the same CPU");
    Ser2netRows(r);
    WaitingRow(r);
}

// The counter must see the library's allocations, or "0 allocs/call" would mean nothing.
bool AllocationsAreCounted() {
    const qx480::test::AllocationMeter meter;
    std::vector<std::uint8_t> out;
    qx480::BuildFrame(qx480::CommandCode(QX480Command::READ_TEMP), qx480::option::NONE, nullptr, 0, out);
    return meter.Count() >= 1;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    if (!AllocationsAreCounted()) {
        std::fprintf(stderr, "qx480-bench: the allocation counter does not see the library's allocations\n");
        return 1;
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintTable(reporter);
    return 0;
}

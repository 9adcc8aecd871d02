// The frame codec with a reused vector and record: frames and bytes per
// second, and heap allocations per call once the storage has grown (goal: 0).
#include <benchmark/benchmark.h>

#include <vector>

#include "allocation_counter.h"
#include "commands.h"
#include "frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qx480::test::AllocationMeter;

// A 10-byte frame has no PA; a 358-byte one carries the timing block.
constexpr int SMALL_PA = 0;
constexpr int TIMING_PA = qx480::timing::BLOCK_SIZE;

Bytes PatternPa(int size) {
    Bytes pa(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < pa.size(); ++i) pa[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return pa;
}

constexpr int COUNTED_CALLS = 1000;

// Rates from the timed loop; allocations from calls made after it, so that
// the benchmark framework's own allocations around the loop are not counted.
template <class Call>
void SetRates(benchmark::State& state, std::size_t frameSize, Call call) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frameSize));
    state.counters["frame_bytes"] = static_cast<double>(frameSize);
    const AllocationMeter allocations;
    for (int i = 0; i < COUNTED_CALLS; ++i) call();
    state.counters["allocs_per_call"] = static_cast<double>(allocations.Count()) / COUNTED_CALLS;
}

template <int PaLen>
void BuildFrame(benchmark::State& state) {
    const Bytes pa = PatternPa(PaLen);
    const std::uint8_t cmd = qx480::CommandCode(QX480Command::READ_TIMING);
    Bytes out;
    const auto build = [&] { qx480::BuildFrame(cmd, qx480::option::TIMING_RESPONSE, pa.data(), PaLen, out); };
    build();  // grows `out` once
    for (auto _ : state) {
        build();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetRates(state, out.size(), build);
}

template <int PaLen>
void ParseFrame(benchmark::State& state) {
    const Bytes pa = PatternPa(PaLen);
    Bytes frame;
    qx480::BuildFrame(qx480::CommandCode(QX480Command::READ_TIMING), qx480::option::TIMING_RESPONSE, pa.data(),
                      static_cast<int>(pa.size()), frame);
    QX480Frame record;
    const int size = static_cast<int>(frame.size());
    const auto parse = [&] { return qx480::ParseFrame(frame.data(), size, record); };
    if (!parse()) state.SkipWithError("the frame does not parse");  // and grows record.pa once
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse());
        benchmark::ClobberMemory();
    }
    SetRates(state, frame.size(), parse);
}

}  // namespace

BENCHMARK(BuildFrame<SMALL_PA>)->Name("codec/BuildFrame/10B");
BENCHMARK(BuildFrame<TIMING_PA>)->Name("codec/BuildFrame/358B");
BENCHMARK(ParseFrame<SMALL_PA>)->Name("codec/ParseFrame/10B");
BENCHMARK(ParseFrame<TIMING_PA>)->Name("codec/ParseFrame/358B");

// qx480-soak: drives random commands and queries through the driver against
// the simulated device, with a random fault switched on for each request,
// and checks every result against what the fault implies. At the end it
// checks that no descriptor or heap block leaked and prints a table.
//
//   qx480-soak [--calls N] [--seed S]      (defaults: 100000 calls, seed 1)
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "fault_plan.h"
#include "frame_receiver.h"
#include "operations.h"
#include "process_resources.h"
#include "qx480ddg.h"
#include "simulated_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace qx480::soak;

constexpr int BAUD = 115200;
constexpr int EXIT_USAGE = 2;
// The write limit, the receive limit and one body read that starts just
// before the receive limit, plus room for a loaded machine.
constexpr double CALL_BOUND_MS = 2.0 * QX480DDG::TIMEOUT_MS + qx480::detail::BODY_READ_MS + 250;
// A refusal or a spoiled frame ends the call once the answer is in.
constexpr double PROMPT_FAILURE_MS = 500;
// After a failed call, the device's answer may still be on its way: wait
// this long past its last byte so that the next call's purge catches it.
constexpr int SETTLE_MS = 100;
constexpr long WARM_UP_CALLS = 1000;
// Heap blocks that may come and go without being a leak (the device's
// receive buffer and reply vectors change with the traffic).
constexpr long long LIVE_BLOCK_SLACK = 64;
constexpr long PEAK_RSS_SLACK_KIB = 8 * 1024;
constexpr long MAX_REPORTED_FAILURES = 20;

struct Settings {
    long calls = 100000;
    std::uint64_t seed = 1;
};

struct KindStats {
    long calls = 0;
    long returnedTrue = 0;
    long unexpected = 0;
    double totalMs = 0;
    double worstMs = 0;
};

bool ParseNumber(const char* text, unsigned long long max, unsigned long long& out) {
    if (text == nullptr || *text == '\0' || std::strspn(text, "0123456789") != std::strlen(text)) return false;
    errno = 0;
    out = std::strtoull(text, nullptr, 10);
    return errno == 0 && out <= max;
}

bool ParseSettings(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long long n = 0;
        if (flag == "--calls" && ParseNumber(value, 1000000000, n) && n > 0) {
            s.calls = static_cast<long>(n);
        } else if (flag == "--seed" && ParseNumber(value, UINT64_MAX, n)) {
            s.seed = n;
        } else {
            const bool known = flag == "--calls" || flag == "--seed";
            std::fprintf(stderr, "qx480-soak: %s '%s' (usage: qx480-soak [--calls N>0] [--seed S])\n",
                         known ? "bad value for" : "unknown argument", argv[i]);
            return false;
        }
    }
    return true;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Soak {
public:
    explicit Soak(const Settings& settings) : m_settings(settings), m_planner(settings.seed) {}

    bool Start() {
        qx480::sim::Options options;
        options.keepRequestLog = false;
        m_sim = std::make_unique<qx480::sim::SimulatedDevice>(options);
        return m_sim->Start() && m_device.Open(m_sim->Path().c_str(), BAUD);
    }

    void Run();
    void Stop() {
        m_device.Close();
        m_sim.reset();
    }
    void PrintTable() const;
    long Unexpected() const { return m_unexpected; }

    Resources warmedUp;
    Resources atEnd;

private:
    void OneCall(long index);
    void Judge(long index, const FaultPlan& plan, const Operation& op, bool result, double ms,
               const qx480::sim::DeviceState& before);
    void Report(long index, const FaultPlan& plan, const Operation& op, bool result, const std::string& why);

    Settings m_settings;
    FaultPlanner m_planner;
    std::unique_ptr<qx480::sim::SimulatedDevice> m_sim;
    QX480DDG m_device;
    KindStats m_stats[FAULT_KIND_COUNT];
    long m_unexpected = 0;
    double m_worstMs = 0;
    Clock::time_point m_start = Clock::now();
};

void Soak::Run() {
    const long progressEvery = m_settings.calls >= 10 ? m_settings.calls / 10 : 1;
    for (long i = 0; i < m_settings.calls; ++i) {
        OneCall(i);
        if (i + 1 == std::min(WARM_UP_CALLS, m_settings.calls)) warmedUp = Measure();
        if ((i + 1) % progressEvery == 0) {
            std::printf("  %ld calls, %.0f s\n", i + 1, MsSince(m_start) / 1000);
            std::fflush(stdout);
        }
    }
    atEnd = Measure();
}

void Soak::OneCall(long index) {
    const FaultPlan plan = m_planner.Next(static_cast<int>(std::min<long>(index, FAULT_KIND_COUNT)));
    const qx480::sim::Limits limits = m_sim->GetLimits();
    Operation op = plan.kind == FaultKind::Refused ? RandomRefusedOperation(m_planner.Random(), limits)
                                                   : RandomOperation(m_planner.Random(), limits);
    if (!m_sim->SetFaults(plan.faults)) {
        Report(index, plan, op, false, "the simulated device refused the fault settings");
        return;
    }
    const qx480::sim::DeviceState before = m_sim->State();
    const Clock::time_point start = Clock::now();
    const bool result = Perform(m_device, op);
    const double ms = MsSince(start);
    Judge(index, plan, op, result, ms, before);
    if (!result && plan.answerMs > 0) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(plan.answerMs + SETTLE_MS));
    }
}

void Soak::Judge(long index, const FaultPlan& plan, const Operation& op, bool result, double ms,
                 const qx480::sim::DeviceState& before) {
    KindStats& k = m_stats[static_cast<int>(plan.kind)];
    ++k.calls;
    if (result) ++k.returnedTrue;
    k.totalMs += ms;
    k.worstMs = std::max(k.worstMs, ms);
    m_worstMs = std::max(m_worstMs, ms);

    std::string why;
    const qx480::sim::DeviceState after = m_sim->State();
    if (result != plan.MustSucceed()) {
        why = result ? "returned true" : "returned false";
    } else if (result) {
        why = CheckApplied(op, before, after);
    } else if (plan.kind == FaultKind::Drop || plan.kind == FaultKind::Refused) {
        why = CheckUnchanged(before, after);
    }
    if (why.empty() && ms > CALL_BOUND_MS) why = "took " + std::to_string(ms) + " ms";
    if (why.empty() && plan.FailsAtOnce() && ms > plan.answerMs + PROMPT_FAILURE_MS) {
        why = "failed only after " + std::to_string(ms) + " ms";
    }
    if (!why.empty()) {
        ++k.unexpected;
        Report(index, plan, op, result, why);
    }
}

void Soak::Report(long index, const FaultPlan& plan, const Operation& op, bool result, const std::string& why) {
    if (++m_unexpected > MAX_REPORTED_FAILURES) return;
    const qx480::sim::Faults& f = plan.faults;
    std::printf("UNEXPECTED call %ld: %s with %s (stray %d, pieces %d, gap %d ms, delay %d ms) -> %s: %s\n", index,
                op.Describe().c_str(), Name(plan.kind), f.strayBytes, f.pieces, f.pieceGapMs, f.answerDelayMs,
                result ? "true" : "false", why.c_str());
}

void PrintRow(const char* kind, long calls, const char* expect, const std::string& returnedTrue,
              const std::string& returnedFalse, long unexpected, double meanMs, double worstMs) {
    std::printf("| %-20s | %8ld | %6s | %8s | %8s | %10ld | %12.2f | %13.1f |\n", kind, calls, expect,
                returnedTrue.c_str(), returnedFalse.c_str(), unexpected, meanMs, worstMs);
}

double Mean(double total, long count) { return count > 0 ? total / static_cast<double>(count) : 0.0; }

void Soak::PrintTable() const {
    std::printf("\n| %-20s | %8s | %6s | %8s | %8s | %10s | %12s | %13s |\n", "fault kind", "calls", "expect", "true",
                "false", "unexpected", "mean call ms", "worst call ms");
    std::printf(
        "|----------------------|----------|--------|----------|----------|------------|--------------|"
        "---------------|\n");
    long calls = 0;
    double totalMs = 0;
    for (int i = 0; i < FAULT_KIND_COUNT; ++i) {
        const KindStats& k = m_stats[i];
        FaultPlan plan;
        plan.kind = static_cast<FaultKind>(i);
        PrintRow(Name(plan.kind), k.calls, plan.MustSucceed() ? "true" : "false", std::to_string(k.returnedTrue),
                 std::to_string(k.calls - k.returnedTrue), k.unexpected, Mean(k.totalMs, k.calls), k.worstMs);
        calls += k.calls;
        totalMs += k.totalMs;
    }
    PrintRow("all", calls, "", "", "", m_unexpected, Mean(totalMs, calls), m_worstMs);
    std::printf("bound on any call: %.0f ms; run time %.0f s\n", CALL_BOUND_MS, MsSince(m_start) / 1000);
}

bool CheckResources(const Resources& before, const Soak& soak, const Resources& after) {
    std::printf(
        "descriptors: %d before, %d after; live heap blocks: %lld before, %lld after warm-up, %lld at the "
        "end, %lld after closing; peak RSS: %ld KiB after warm-up, %ld KiB at the end\n",
        before.openDescriptors, after.openDescriptors, before.liveAllocations, soak.warmedUp.liveAllocations,
        soak.atEnd.liveAllocations, after.liveAllocations, soak.warmedUp.peakRssKiB, soak.atEnd.peakRssKiB);
    bool ok = true;
    if (after.openDescriptors != before.openDescriptors) {
        std::printf("LEAK: %d descriptors more than before\n", after.openDescriptors - before.openDescriptors);
        ok = false;
    }
    if (soak.atEnd.liveAllocations - soak.warmedUp.liveAllocations > LIVE_BLOCK_SLACK ||
        after.liveAllocations - before.liveAllocations > LIVE_BLOCK_SLACK) {
        std::printf("LEAK: the number of live heap blocks grew\n");
        ok = false;
    }
    if (soak.atEnd.peakRssKiB - soak.warmedUp.peakRssKiB > PEAK_RSS_SLACK_KIB) {
        std::printf("GROWTH: the peak resident size grew by more than %ld KiB after the warm-up\n", PEAK_RSS_SLACK_KIB);
        ok = false;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseSettings(argc, argv, settings)) return EXIT_USAGE;
    std::printf("qx480-soak: %ld calls, seed %llu\n", settings.calls, static_cast<unsigned long long>(settings.seed));
    const Resources before = Measure();
    Soak soak(settings);
    if (!soak.Start()) {
        std::fprintf(stderr, "qx480-soak: cannot start the simulated device or open its line\n");
        return 1;
    }
    soak.Run();
    soak.Stop();
    const Resources after = Measure();
    soak.PrintTable();
    const bool resourcesOk = CheckResources(before, soak, after);
    const bool ok = soak.Unexpected() == 0 && resourcesOk;
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}

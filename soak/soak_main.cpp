// qx480-soak: drives random commands and queries through the driver against
// the simulated device, with a random fault switched on for each request,
// and checks every result, its outcome and the device's state against what
// the fault implies. At the end it checks that no descriptor or heap block
// leaked and prints a table.
//
//   qx480-soak [--calls N] [--seed S]      (defaults: 100000 calls, seed 1)
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

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
// A call whose answer comes within the limit ends this soon after it is in.
constexpr double PROMPT_END_MS = 500;
// After a failed call, or a local echo, the device's answer may still be on
// its way: wait this long past its last byte so that the next call's purge
// catches it.
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

constexpr int STATUS_COUNT = static_cast<int>(QX480Status::Echo) + 1;

struct KindStats {
    long calls = 0;
    long returnedTrue = 0;
    long unexpected = 0;
    long statuses[STATUS_COUNT] = {};
    double totalMs = 0;
    double worstMs = 0;
};

// A late-into-next call just made: its command code, and whether its answer
// is still on its way (the call gave up on it).
struct LateCall {
    std::uint8_t cmd = 0;
    bool answerPending = false;
};

// The calls right after a late-into-next call.
struct FollowUpStats {
    long calls[FAULT_KIND_COUNT] = {};
    long unexpected = 0;
    // Late answers that came in during the call and were dropped there.
    long lateAnswersDropped = 0;
};

// One call and what it returned.
struct Call {
    long index = 0;
    FaultPlan plan;
    Operation op;
    QX480Outcome outcome;
    bool result = false;
    double ms = 0;
    qx480::sim::DeviceState before;
    // Set when the call before was late into this one.
    std::optional<LateCall> late;
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

const char* TrueOrFalse(bool value) { return value ? "true" : "false"; }

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
    Operation ChooseOperation(const FaultPlan& plan, const std::optional<LateCall>& late);
    void WatchForLateAnswer(std::uint8_t cmd);
    void Judge(const Call& call);
    void Tally(const Call& call);
    std::string Verdict(const Call& call, const qx480::sim::DeviceState& after) const;
    void Report(const Call& call, const std::string& why);
    void PrintNotes() const;

    Settings m_settings;
    FaultPlanner m_planner;
    std::unique_ptr<qx480::sim::SimulatedDevice> m_sim;
    QX480DDG m_device;
    KindStats m_stats[FAULT_KIND_COUNT];
    FollowUpStats m_followUps;
    std::optional<LateCall> m_lateCall;
    // Mismatches that a late answer to the same command explains.
    long m_sameCommandLate = 0;
    // Writes whose echo read as an acceptance.
    long m_echoedAcceptances = 0;
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

// After a late-into-next call, a command of another code, so that its late
// answer cannot pass for this call's.
Operation Soak::ChooseOperation(const FaultPlan& plan, const std::optional<LateCall>& late) {
    const qx480::sim::Limits limits = m_sim->GetLimits();
    const AvoidCommand avoid = late ? AvoidCommand(late->cmd) : std::nullopt;
    std::mt19937_64& random = m_planner.Random();
    return plan.kind == FaultKind::Refused ? RandomRefusedOperation(random, limits, avoid)
                                           : RandomOperation(random, limits, avoid);
}

void Soak::OneCall(long index) {
    Call call;
    call.index = index;
    call.plan = m_planner.Next();
    call.late = std::exchange(m_lateCall, std::nullopt);
    call.op = ChooseOperation(call.plan, call.late);
    if (!m_sim->SetFaults(call.plan.faults)) {
        Report(call, "the simulated device refused the fault settings");
        return;
    }
    call.before = m_sim->State();
    if (call.late) WatchForLateAnswer(call.late->cmd);
    const Clock::time_point start = Clock::now();
    call.result = Perform(m_device, call.op, call.outcome);
    call.ms = MsSince(start);
    if (call.late) m_device.SetFrameObserver({});
    Judge(call);
    if (call.plan.kind == FaultKind::LateIntoNext) m_lateCall = LateCall{call.op.Command(), !call.result};
    if (call.plan.LeavesBytesBehind(call.result)) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(call.plan.answerMs + SETTLE_MS));
    }
}

// Counts the valid frames of `cmd` that the receiver drops: the late answer.
void Soak::WatchForLateAnswer(std::uint8_t cmd) {
    long& dropped = m_followUps.lateAnswersDropped;
    m_device.SetFrameObserver(
        [&dropped, cmd](QX480FrameDirection direction, const std::uint8_t* bytes, std::size_t size) {
            QX480Frame frame{};
            if (direction == QX480FrameDirection::Dropped &&
                QX480DDG::ParseFrame(bytes, static_cast<int>(size), frame) && frame.cmd == cmd) {
                ++dropped;
            }
        });
}

void Soak::Tally(const Call& c) {
    KindStats& k = m_stats[static_cast<int>(c.plan.kind)];
    ++k.calls;
    if (c.result) ++k.returnedTrue;
    ++k.statuses[static_cast<int>(c.outcome.status)];
    k.totalMs += c.ms;
    k.worstMs = std::max(k.worstMs, c.ms);
    m_worstMs = std::max(m_worstMs, c.ms);
    if (c.late) ++m_followUps.calls[static_cast<int>(c.plan.kind)];
}

StatusSet AllowedStatuses(const Call& c) { return c.plan.Echoes() ? Bit(EchoStatus(c.op)) : c.plan.Statuses(); }

// What the device must hold after the call.
std::string CheckDevice(const Call& c, const qx480::sim::DeviceState& after) {
    if (!c.plan.CarriedOut()) return CheckUnchanged(c.before, after);
    return c.result ? CheckApplied(c.op, c.before, after) : CheckCarriedOut(c.op, c.before, after);
}

// A mismatch after a late answer to the same command: that answer may have
// been taken for this call's, and nothing on the line tells them apart.
bool FollowsLateAnswerToSameCommand(const Call& c) {
    return c.late && c.late->answerPending && c.late->cmd == c.op.Command();
}

// Empty when the call did what its fault plan implies, else what is wrong.
std::string Soak::Verdict(const Call& c, const qx480::sim::DeviceState& after) const {
    if (c.result != c.outcome.ok()) return std::string("returned ") + TrueOrFalse(c.result) + " against its outcome";
    if (c.outcome.cmd != c.op.Command()) return "the outcome names command " + std::to_string(c.outcome.cmd);
    if ((AllowedStatuses(c) & Bit(c.outcome.status)) == 0) return "a status this fault does not allow";
    std::string why = CheckDevice(c, after);
    if (why.empty() && !c.result) why = CheckUnread(c.op);
    if (why.empty() && c.ms > CALL_BOUND_MS) why = "took " + std::to_string(c.ms) + " ms";
    if (why.empty() && c.plan.EndsOnceAnswered() && c.ms > c.plan.answerMs + PROMPT_END_MS) {
        why = "ended only after " + std::to_string(c.ms) + " ms";
    }
    return why;
}

void Soak::Judge(const Call& c) {
    Tally(c);
    const std::string why = Verdict(c, m_sim->State());
    if (why.empty()) {
        if (c.plan.Echoes() && c.result) ++m_echoedAcceptances;
        return;
    }
    if (FollowsLateAnswerToSameCommand(c)) {
        ++m_sameCommandLate;
        return;
    }
    ++m_stats[static_cast<int>(c.plan.kind)].unexpected;
    if (c.late) ++m_followUps.unexpected;
    Report(c, why);
}

void Soak::Report(const Call& c, const std::string& why) {
    if (++m_unexpected > MAX_REPORTED_FAILURES) return;
    const qx480::sim::Faults& f = c.plan.faults;
    std::printf(
        "UNEXPECTED call %ld: %s with %s (stray %d, pieces %d, gap %d ms, delay %d ms, foreign %d) -> %s (%s): "
        "%s\n",
        c.index, c.op.Describe().c_str(), Name(c.plan.kind), f.strayBytes, f.pieces, f.pieceGapMs, f.answerDelayMs,
        f.foreignFrames, TrueOrFalse(c.result), QX480StatusText(c.outcome.status), why.c_str());
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
        const auto kind = static_cast<FaultKind>(i);
        PrintRow(Name(kind), k.calls, ExpectedResult(kind), std::to_string(k.returnedTrue),
                 std::to_string(k.calls - k.returnedTrue), k.unexpected, Mean(k.totalMs, k.calls), k.worstMs);
        calls += k.calls;
        totalMs += k.totalMs;
    }
    PrintRow("all", calls, "", "", "", m_unexpected, Mean(totalMs, calls), m_worstMs);
    PrintNotes();
    std::printf("bound on any call: %.0f ms; run time %.0f s\n", CALL_BOUND_MS, MsSince(m_start) / 1000);
}

void Soak::PrintNotes() const {
    const KindStats& late = m_stats[static_cast<int>(FaultKind::LateIntoNext)];
    const auto seen = [&late](QX480Status s) { return late.statuses[static_cast<int>(s)]; };
    std::printf("late into next: %ld true (answer caught in time), %ld no answer, %ld corrupted answer\n",
                late.returnedTrue, seen(QX480Status::NoAnswer), seen(QX480Status::CorruptAnswer));
    const FollowUpStats& f = m_followUps;
    std::printf(
        "the call after each: %ld refused, %ld dropped, %ld unexpected; %ld late answers came in during it and "
        "were dropped\n",
        f.calls[static_cast<int>(FaultKind::Refused)], f.calls[static_cast<int>(FaultKind::Drop)], f.unexpected,
        f.lateAnswersDropped);
    std::printf("late answer to the same command: cannot be told apart: %ld\n", m_sameCommandLate);
    std::printf("write echoed back: cannot be told from an acceptance: %ld\n", m_echoedAcceptances);
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

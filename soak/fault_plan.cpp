#include "fault_plan.h"

#include <cstddef>
#include <iterator>

#include "qx480ddg.h"

namespace qx480 {
namespace soak {
namespace {

// Well clear of the limit on either side, so that a loaded machine cannot
// turn an on-time answer into a late one or the reverse.
constexpr int ON_TIME_MS = QX480DDG::TIMEOUT_MS * 6 / 10;
constexpr int LATE_MIN_MS = QX480DDG::TIMEOUT_MS * 13 / 10;
constexpr int LATE_MAX_MS = QX480DDG::TIMEOUT_MS * 16 / 10;
// Just past the limit: the call gives up a moment before the answer comes,
// and the next call's purge goes before it too.
constexpr int INTO_NEXT_MIN_MS = QX480DDG::TIMEOUT_MS;
constexpr int INTO_NEXT_MAX_MS = QX480DDG::TIMEOUT_MS * 11 / 10;
constexpr int MAX_STRAY = 64;
constexpr int MAX_PIECES = 24;
constexpr int MAX_FOREIGN = 4;
constexpr int MAX_SHORT_GAP_MS = 3;
// One piece gap in this many is not 0.
constexpr int GAP_ONE_IN = 4;
constexpr int SHORT_PAUSE_MS = 10;
// One slow answer in this many takes up to ON_TIME_MS; the rest are short.
constexpr int LONG_PAUSE_ONE_IN = 50;
// One call in this many of the kinds that allow it gets junk and pieces besides.
constexpr int NOISE_ONE_IN = 4;

constexpr StatusSet NO_ANSWER = Bit(QX480Status::NoAnswer);
constexpr StatusSet CORRUPT = Bit(QX480Status::CorruptAnswer);
constexpr StatusSet REFUSED = Bit(QX480Status::Refused);
// An incomplete frame when time runs out counts as a corrupted answer.
constexpr StatusSet LATE = NO_ANSWER | CORRUPT;
// The last read of a receive may still catch an answer that comes just in time.
constexpr StatusSet JUST_LATE = ONLY_ACCEPTED | LATE;
// As the echo of the request implies.
constexpr StatusSet AS_ECHOED = 0;

int Uniform(std::mt19937_64& random, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }

int ShortGap(std::mt19937_64& r) { return Uniform(r, 1, GAP_ONE_IN) == 1 ? Uniform(r, 1, MAX_SHORT_GAP_MS) : 0; }

void NoFaults(std::mt19937_64&, sim::Faults&) {}

void AddStray(std::mt19937_64& r, sim::Faults& f) { f.strayBytes = Uniform(r, 1, MAX_STRAY); }

void CutInPieces(std::mt19937_64& r, sim::Faults& f) {
    f.pieces = Uniform(r, 2, MAX_PIECES);
    f.pieceGapMs = ShortGap(r);
}

void DelayWithinLimit(std::mt19937_64& r, sim::Faults& f) {
    f.answerDelayMs = Uniform(r, 1, Uniform(r, 1, LONG_PAUSE_ONE_IN) == 1 ? ON_TIME_MS : SHORT_PAUSE_MS);
}

void DelayBeyondLimit(std::mt19937_64& r, sim::Faults& f) { f.answerDelayMs = Uniform(r, LATE_MIN_MS, LATE_MAX_MS); }

void SpreadPiecesBeyondLimit(std::mt19937_64& r, sim::Faults& f) {
    f.pieces = Uniform(r, 2, 6);
    f.pieceGapMs = Uniform(r, LATE_MIN_MS, LATE_MAX_MS) / (f.pieces - 1) + 1;
}

void DropAnswer(std::mt19937_64&, sim::Faults& f) { f.dropEvery = 1; }

void CorruptChecksum(std::mt19937_64&, sim::Faults& f) { f.corruptEvery = 1; }

void ShortenLength(std::mt19937_64&, sim::Faults& f) { f.shortLength = true; }

void AddForeignFrames(std::mt19937_64& r, sim::Faults& f) { f.foreignFrames = Uniform(r, 1, MAX_FOREIGN); }

void DelayIntoNextCall(std::mt19937_64& r, sim::Faults& f) {
    f.answerDelayMs = Uniform(r, INTO_NEXT_MIN_MS, INTO_NEXT_MAX_MS);
}

void LoopBack(std::mt19937_64&, sim::Faults& f) { f.echo = sim::Echo::Loopback; }

void EchoLocally(std::mt19937_64&, sim::Faults& f) { f.echo = sim::Echo::LocalEcho; }

enum class Device { CarriesOut, LeavesAlone };
enum class Ends { OnceAnswered, AtTheLimit };
enum class Noise { Harmless, None };

struct KindInfo {
    const char* name;
    // Relative weight in the mix.
    double weight;
    void (*shape)(std::mt19937_64&, sim::Faults&);
    StatusSet statuses;
    Device device;
    Ends ends;
    Noise noise;
};

// In the order of FaultKind. The four that wait out the limit, with the
// dropped call after every other late-into-next, make about 0.3 % of the calls.
constexpr KindInfo KINDS[] = {
    {"clean", 30, NoFaults, ONLY_ACCEPTED, Device::CarriesOut, Ends::OnceAnswered, Noise::None},
    {"stray bytes", 12, AddStray, ONLY_ACCEPTED, Device::CarriesOut, Ends::OnceAnswered, Noise::Harmless},
    {"pieces", 12, CutInPieces, ONLY_ACCEPTED, Device::CarriesOut, Ends::OnceAnswered, Noise::Harmless},
    {"delay within limit", 12, DelayWithinLimit, ONLY_ACCEPTED, Device::CarriesOut, Ends::OnceAnswered,
     Noise::Harmless},
    {"delay beyond limit", 0.07, DelayBeyondLimit, NO_ANSWER, Device::CarriesOut, Ends::AtTheLimit, Noise::Harmless},
    {"pieces beyond limit", 0.06, SpreadPiecesBeyondLimit, LATE, Device::CarriesOut, Ends::AtTheLimit, Noise::None},
    {"dropped", 0.07, DropAnswer, NO_ANSWER, Device::LeavesAlone, Ends::AtTheLimit, Noise::Harmless},
    {"corrupted checksum", 10, CorruptChecksum, CORRUPT, Device::CarriesOut, Ends::OnceAnswered, Noise::Harmless},
    {"short length field", 8, ShortenLength, CORRUPT, Device::CarriesOut, Ends::OnceAnswered, Noise::Harmless},
    {"refused", 10, NoFaults, REFUSED, Device::LeavesAlone, Ends::OnceAnswered, Noise::Harmless},
    {"foreign frames", 12, AddForeignFrames, ONLY_ACCEPTED, Device::CarriesOut, Ends::OnceAnswered, Noise::Harmless},
    {"late into next", 0.1, DelayIntoNextCall, JUST_LATE, Device::CarriesOut, Ends::AtTheLimit, Noise::None},
    {"loopback", 4, LoopBack, AS_ECHOED, Device::LeavesAlone, Ends::OnceAnswered, Noise::None},
    {"local echo", 1, EchoLocally, AS_ECHOED, Device::CarriesOut, Ends::OnceAnswered, Noise::None},
};
static_assert(sizeof KINDS / sizeof KINDS[0] == FAULT_KIND_COUNT, "one entry per fault kind");

// The calls after LateIntoNext, in turn.
constexpr FaultKind FOLLOW_UPS[] = {FaultKind::Refused, FaultKind::Drop};

const KindInfo& Info(FaultKind kind) { return KINDS[static_cast<int>(kind)]; }

int AnswerMs(const sim::Faults& f) {
    const int gaps = f.pieces > 1 ? (f.pieces - 1) * f.pieceGapMs : 0;
    return f.answerDelayMs + gaps;
}

}  // namespace

const char* Name(FaultKind kind) { return Info(kind).name; }

const char* ExpectedResult(FaultKind kind) {
    const StatusSet statuses = Info(kind).statuses;
    if (statuses == AS_ECHOED) return "by opt";
    if (statuses == ONLY_ACCEPTED) return "true";
    return (statuses & ONLY_ACCEPTED) != 0 ? "either" : "false";
}

StatusSet FaultPlan::Statuses() const { return Info(kind).statuses; }

bool FaultPlan::Echoes() const { return Info(kind).statuses == AS_ECHOED; }

bool FaultPlan::CarriedOut() const { return Info(kind).device == Device::CarriesOut; }

bool FaultPlan::EndsOnceAnswered() const { return Info(kind).ends == Ends::OnceAnswered; }

bool FaultPlan::LeavesBytesBehind(bool result) const {
    if (kind == FaultKind::LateIntoNext) return false;  // the next call must cope with it
    if (kind == FaultKind::LocalEcho) return true;      // the device's answer follows the echo
    return !result && answerMs > 0;
}

FaultKind FaultPlanner::PickKind() {
    double weights[FAULT_KIND_COUNT];
    for (int i = 0; i < FAULT_KIND_COUNT; ++i) weights[i] = KINDS[i].weight;
    std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
    return static_cast<FaultKind>(pick(m_random));
}

FaultKind FaultPlanner::NextKind() {
    if (m_followUpDue) return FOLLOW_UPS[static_cast<std::size_t>(m_followUps++) % std::size(FOLLOW_UPS)];
    if (m_swept < FAULT_KIND_COUNT) return static_cast<FaultKind>(m_swept++);
    return PickKind();
}

void FaultPlanner::AddHarmlessNoise(FaultPlan& plan) {
    if (Uniform(m_random, 1, NOISE_ONE_IN) != 1) return;
    plan.faults.strayBytes = Uniform(m_random, 0, MAX_STRAY);
    if (plan.faults.pieces == 0) {
        plan.faults.pieces = Uniform(m_random, 1, MAX_PIECES);
        plan.faults.pieceGapMs = ShortGap(m_random);
    }
}

FaultPlan FaultPlanner::Next() {
    FaultPlan plan;
    plan.kind = NextKind();
    const KindInfo& info = Info(plan.kind);
    info.shape(m_random, plan.faults);
    if (info.noise == Noise::Harmless) AddHarmlessNoise(plan);
    plan.answerMs = AnswerMs(plan.faults);
    m_followUpDue = plan.kind == FaultKind::LateIntoNext;
    return plan;
}

}  // namespace soak
}  // namespace qx480

#include "fault_plan.h"

#include "qx480ddg.h"

namespace qx480 {
namespace soak {
namespace {

// Relative weights of the kinds, in the order of FaultKind. The three that
// wait out the limit make 0.2 % of the calls.
constexpr double WEIGHTS[FAULT_KIND_COUNT] = {30, 12, 12, 12, 0.07, 0.06, 0.07, 10, 8, 10};

// Well clear of the limit on either side, so that a loaded machine cannot
// turn an on-time answer into a late one or the reverse.
constexpr int ON_TIME_MS = QX480DDG::TIMEOUT_MS * 6 / 10;
constexpr int LATE_MIN_MS = QX480DDG::TIMEOUT_MS * 13 / 10;
constexpr int LATE_MAX_MS = QX480DDG::TIMEOUT_MS * 16 / 10;
constexpr int MAX_STRAY = 64;
constexpr int MAX_PIECES = 24;
constexpr int MAX_SHORT_GAP_MS = 3;
// One piece gap in this many is not 0.
constexpr int GAP_ONE_IN = 4;
constexpr int SHORT_PAUSE_MS = 10;
// One slow answer in this many takes up to ON_TIME_MS; the rest are short.
constexpr int LONG_PAUSE_ONE_IN = 50;
// One call in this many of the kinds that allow it gets junk and pieces besides.
constexpr int NOISE_ONE_IN = 4;

int AnswerMs(const sim::Faults& f) {
    const int gaps = f.pieces > 1 ? (f.pieces - 1) * f.pieceGapMs : 0;
    return f.answerDelayMs + gaps;
}

}  // namespace

const char* Name(FaultKind kind) {
    switch (kind) {
        case FaultKind::Clean: return "clean";
        case FaultKind::Stray: return "stray bytes";
        case FaultKind::Pieces: return "pieces";
        case FaultKind::SlowAnswer: return "delay within limit";
        case FaultKind::LateAnswer: return "delay beyond limit";
        case FaultKind::LatePieces: return "pieces beyond limit";
        case FaultKind::Drop: return "dropped";
        case FaultKind::Corrupt: return "corrupted checksum";
        case FaultKind::ShortLength: return "short length field";
        case FaultKind::Refused: return "refused";
    }
    return "?";
}

bool FaultPlan::MustSucceed() const {
    return kind == FaultKind::Clean || kind == FaultKind::Stray || kind == FaultKind::Pieces ||
           kind == FaultKind::SlowAnswer;
}

bool FaultPlan::FailsAtOnce() const {
    return kind == FaultKind::Corrupt || kind == FaultKind::ShortLength || kind == FaultKind::Refused;
}

int FaultPlanner::Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_random); }

int FaultPlanner::ShortGap() { return Uniform(1, GAP_ONE_IN) == 1 ? Uniform(1, MAX_SHORT_GAP_MS) : 0; }

FaultKind FaultPlanner::PickKind() {
    std::discrete_distribution<int> pick(std::begin(WEIGHTS), std::end(WEIGHTS));
    return static_cast<FaultKind>(pick(m_random));
}

void FaultPlanner::AddHarmlessNoise(FaultPlan& plan) {
    if (Uniform(1, NOISE_ONE_IN) != 1) return;
    plan.faults.strayBytes = Uniform(0, MAX_STRAY);
    if (plan.faults.pieces == 0) {
        plan.faults.pieces = Uniform(1, MAX_PIECES);
        plan.faults.pieceGapMs = ShortGap();
    }
}

FaultPlan FaultPlanner::Next(int callIndex) {
    FaultPlan plan;
    plan.kind = callIndex < FAULT_KIND_COUNT ? static_cast<FaultKind>(callIndex) : PickKind();
    sim::Faults& f = plan.faults;
    switch (plan.kind) {
        case FaultKind::Clean: break;
        case FaultKind::Stray: f.strayBytes = Uniform(1, MAX_STRAY); break;
        case FaultKind::Pieces:
            f.pieces = Uniform(2, MAX_PIECES);
            f.pieceGapMs = ShortGap();
            break;
        case FaultKind::SlowAnswer:
            f.answerDelayMs = Uniform(1, Uniform(1, LONG_PAUSE_ONE_IN) == 1 ? ON_TIME_MS : SHORT_PAUSE_MS);
            break;
        case FaultKind::LateAnswer: f.answerDelayMs = Uniform(LATE_MIN_MS, LATE_MAX_MS); break;
        case FaultKind::LatePieces:
            f.pieces = Uniform(2, 6);
            f.pieceGapMs = Uniform(LATE_MIN_MS, LATE_MAX_MS) / (f.pieces - 1) + 1;
            break;
        case FaultKind::Drop: f.dropEvery = 1; break;
        case FaultKind::Corrupt: f.corruptEvery = 1; break;
        case FaultKind::ShortLength: f.shortLength = true; break;
        case FaultKind::Refused: break;
    }
    if (plan.kind != FaultKind::Clean && plan.kind != FaultKind::LatePieces) AddHarmlessNoise(plan);
    plan.answerMs = AnswerMs(f);
    return plan;
}

}  // namespace soak
}  // namespace qx480

// What the simulated device does wrong on one request, and what the call
// must then return.
#pragma once

#include <cstdint>
#include <random>

#include "responder.h"

namespace qx480 {
namespace soak {

enum class FaultKind {
    Clean,        // a plain answer
    Stray,        // junk bytes before the answer
    Pieces,       // the answer in pieces with short gaps
    SlowAnswer,   // a pause before the answer, within the limit
    LateAnswer,   // a pause before the answer, beyond the limit
    LatePieces,   // gaps between the pieces add up to more than the limit
    Drop,         // no answer at all
    Corrupt,      // a wrong checksum
    ShortLength,  // a length field below the minimum
    Refused,      // a setting outside the device's limits: the device says no
};
constexpr int FAULT_KIND_COUNT = 10;

const char* Name(FaultKind kind);

struct FaultPlan {
    FaultKind kind = FaultKind::Clean;
    sim::Faults faults;
    // Time the device takes from the request to the last byte of its answer.
    int answerMs = 0;

    bool MustSucceed() const;
    // Fails as soon as the answer is in (or is refused), without waiting out the limit.
    bool FailsAtOnce() const;
};

// How the kinds are mixed. Calls that wait out the 1000 ms limit (drops and
// late answers) cost a second each, so they are kept rare; the first
// FAULT_KIND_COUNT calls take every kind once, so that even a short run has
// each of them.
class FaultPlanner {
public:
    explicit FaultPlanner(std::uint64_t seed) : m_random(seed) {}
    FaultPlan Next(int callIndex);
    std::mt19937_64& Random() { return m_random; }

private:
    FaultKind PickKind();
    int Uniform(int lo, int hi);
    int ShortGap();
    void AddHarmlessNoise(FaultPlan& plan);

    std::mt19937_64 m_random;
};

}  // namespace soak
}  // namespace qx480

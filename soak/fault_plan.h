// What the simulated device does wrong on one request, and what the call
// must then return.
#pragma once

#include <cstdint>
#include <random>

#include "outcome.h"
#include "responder.h"

namespace qx480 {
namespace soak {

enum class FaultKind {
    Clean,          // a plain answer
    Stray,          // junk bytes before the answer
    Pieces,         // the answer in pieces with short gaps
    SlowAnswer,     // a pause before the answer, within the limit
    LateAnswer,     // a pause before the answer, beyond the limit
    LatePieces,     // gaps between the pieces add up to more than the limit
    Drop,           // no answer at all
    Corrupt,        // a wrong checksum
    ShortLength,    // a length field below the minimum
    Refused,        // a setting outside the device's limits: the device says no
    ForeignFrames,  // answers to other commands before the answer
    LateIntoNext,   // an answer just past the limit, landing in the next call
    Loopback,       // every byte written comes straight back; no device answers
    LocalEcho,      // each request comes back, then the device answers it
};
constexpr int FAULT_KIND_COUNT = 14;

// A set of outcome statuses, one bit each.
using StatusSet = unsigned;
constexpr StatusSet Bit(QX480Status status) { return 1u << static_cast<unsigned>(status); }
constexpr StatusSet ONLY_ACCEPTED = Bit(QX480Status::Accepted);

const char* Name(FaultKind kind);

struct FaultPlan {
    FaultKind kind = FaultKind::Clean;
    sim::Faults faults;
    // Time the device takes from the request to the last byte of its answer.
    int answerMs = 0;

    // The statuses the call may end with; for the echoing kinds it depends on
    // the request (see EchoStatus in operations.h) and this is empty.
    StatusSet Statuses() const;
    bool Echoes() const;
    // The device carries out the request, whatever becomes of its answer.
    bool CarriedOut() const;
    // The call ends as soon as the answer is in, without waiting out the limit.
    bool EndsOnceAnswered() const;
    // Bytes of the answer may still be on their way once the call returned,
    // and would spoil the next call unless the soak waits them out.
    bool LeavesBytesBehind(bool result) const;
};

// What the table's "expect" column says for a kind.
const char* ExpectedResult(FaultKind kind);

// How the kinds are mixed. Calls that wait out the 1000 ms limit (drops and
// late answers) cost a second each, so they are kept rare; the first calls
// take every kind once, so that even a short run has each of them. Every
// LateIntoNext call is followed by a refused or a dropped call, in turn, so
// that a late answer wrongly taken for that call's answer makes it succeed.
class FaultPlanner {
public:
    explicit FaultPlanner(std::uint64_t seed) : m_random(seed) {}
    FaultPlan Next();
    std::mt19937_64& Random() { return m_random; }

private:
    FaultKind NextKind();
    FaultKind PickKind();
    void AddHarmlessNoise(FaultPlan& plan);

    std::mt19937_64 m_random;
    int m_swept = 0;
    bool m_followUpDue = false;
    long m_followUps = 0;
};

}  // namespace soak
}  // namespace qx480

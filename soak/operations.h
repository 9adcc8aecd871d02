// The driver calls the soak makes, with random arguments, and what each must
// have done to the simulated device when it returns.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "qx480ddg.h"
#include "responder.h"

namespace qx480 {
namespace soak {

enum class Op {
    SetTrigger,
    SetFrequency,
    SetChannel,
    SetGlobalOutput,
    SetDelay,
    SetPulseWidth,
    SoftwareTrigger,
    ReadTemperature,
    ReadTimingConfig,
};

// What a query's result holds until the call writes it: values no device reports.
constexpr float UNREAD_CELSIUS = -1000.0f;
constexpr QX480TimingConfig UNREAD_TIMING = {
    -1, -1, -1, UINT32_MAX, -1.0, UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX, UINT32_MAX, -1, -1, -1.0f};

struct Operation {
    Op op = Op::ReadTemperature;
    int channel = 1;
    bool on = false;
    QX480TriggerMode mode = QX480TriggerMode::Internal;
    double hz = 0;
    std::int64_t ns = 0;
    // What the queries return.
    float celsius = UNREAD_CELSIUS;
    QX480TimingConfig timing = UNREAD_TIMING;

    bool IsQuery() const { return op == Op::ReadTemperature || op == Op::ReadTimingConfig; }
    std::uint8_t Command() const;
    std::string Describe() const;
};

// A command code an operation must not have, or none.
using AvoidCommand = std::optional<std::uint8_t>;

// Any command or query with arguments the device accepts.
Operation RandomOperation(std::mt19937_64& random, const sim::Limits& limits, AvoidCommand avoid = {});
// A command whose argument lies outside what the device accepts, though the
// driver sends it.
Operation RandomRefusedOperation(std::mt19937_64& random, const sim::Limits& limits, AvoidCommand avoid = {});

bool Perform(QX480DDG& device, Operation& operation, QX480Outcome& outcome);

// What the call ends with when its own request comes back as the answer: a
// query sees Echo; a write takes its own option word for the answer's, which
// reads as accepted when its low byte is 1 and as refused otherwise.
QX480Status EchoStatus(const Operation& operation);

// After a call that returned true: the device holds the new setting, or the
// query returned what the device holds. Empty when so, else what is wrong.
std::string CheckApplied(const Operation& operation, const sim::DeviceState& before, const sim::DeviceState& after);
// After a failed call whose request the device carried out all the same.
std::string CheckCarriedOut(const Operation& operation, const sim::DeviceState& before, const sim::DeviceState& after);
// After a request the device never carried out: nothing changed.
std::string CheckUnchanged(const sim::DeviceState& before, const sim::DeviceState& after);
// After a query that failed: nothing was written through its pointer.
std::string CheckUnread(const Operation& operation);

}  // namespace soak
}  // namespace qx480

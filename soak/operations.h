// The driver calls the soak makes, with random arguments, and what each must
// have done to the simulated device when it returns.
#pragma once

#include <cstdint>
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

struct Operation {
    Op op = Op::ReadTemperature;
    int channel = 1;
    bool on = false;
    QX480TriggerMode mode = QX480TriggerMode::Internal;
    double hz = 0;
    std::int64_t ns = 0;
    // What the queries return.
    float celsius = 0;
    QX480TimingConfig timing{};

    bool IsQuery() const { return op == Op::ReadTemperature || op == Op::ReadTimingConfig; }
    std::string Describe() const;
};

// Any command or query with arguments the device accepts.
Operation RandomOperation(std::mt19937_64& random, const sim::Limits& limits);
// A command whose argument lies outside what the device accepts, though the
// driver sends it.
Operation RandomRefusedOperation(std::mt19937_64& random, const sim::Limits& limits);

bool Perform(QX480DDG& device, Operation& operation);

// After a call that returned true: the device holds the new setting, or the
// query returned what the device holds. Empty when so, else what is wrong.
std::string CheckApplied(const Operation& operation, const sim::DeviceState& before, const sim::DeviceState& after);
// After a request the device never carried out: nothing changed.
std::string CheckUnchanged(const sim::DeviceState& before, const sim::DeviceState& after);

}  // namespace soak
}  // namespace qx480

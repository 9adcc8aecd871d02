// The status and temperature reports in text and JSON.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "commands.h"

namespace qx480 {
namespace tool {

using TimingBlock = qx480::timing::Block;

// The internal trigger rate of a period with the period itself: "1 kHz
// (period 250000 x 4 ns)"; a period of 0 is "none (period 0 x 4 ns)".
std::string RateText(std::uint32_t ticks);

// The port, the temperature, the trigger rate, the fields only the device
// sets and a table of every channel's times, as text or as one JSON object.
void PrintStatus(std::ostream& out, const std::string& port, float celsius, const TimingBlock& block);
void PrintStatusJson(std::ostream& out, const std::string& port, float celsius, const TimingBlock& block);
// The temperature alone, as text or as one JSON object with the port.
void PrintTemperature(std::ostream& out, float celsius);
void PrintTemperatureJson(std::ostream& out, const std::string& port, float celsius);

}  // namespace tool
}  // namespace qx480

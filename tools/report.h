// The status and temperature reports, as text lines and as the fields of a
// JSON record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "json.h"

namespace qx480 {
namespace tool {

using TimingBlock = qx480::timing::Block;

// A single as a JSON number that prints as FormatNumber does (0.1f as 0.1);
// NaN and infinities become null.
Json JsonNumber(float value);

// The port, the temperature, the trigger rate, the fields only the device
// sets and a table of every channel's times.
std::vector<std::string> StatusLines(const std::string& port, float celsius, const TimingBlock& block);
// The same as record fields; each time both as exact decimal nanoseconds in
// a string ("delay_ns") and as its 10 ps count ("delay_counts").
Json StatusFields(const std::string& port, float celsius, const TimingBlock& block);

// The temperature alone: "temperature 29.59375 C", or as fields with the port.
std::string TemperatureLine(float celsius);
Json TemperatureFields(const std::string& port, float celsius);

}  // namespace tool
}  // namespace qx480

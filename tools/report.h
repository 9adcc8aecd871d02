// The status and temperature reports in text and JSON.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "commands.h"

namespace qx480 {
namespace tool {

using TimingBlock = qx480::timing::Block;

void PrintStatus(std::ostream& out, const std::string& port, float celsius, const TimingBlock& block);
void PrintStatusJson(std::ostream& out, const std::string& port, float celsius, const TimingBlock& block);
void PrintTemperature(std::ostream& out, float celsius);
void PrintTemperatureJson(std::ostream& out, const std::string& port, float celsius);

}  // namespace tool
}  // namespace qx480

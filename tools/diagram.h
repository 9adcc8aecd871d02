// A text timing diagram of the eight channels: each channel's pulse (its
// delay, then its width) on one time axis, with the scale and the trigger
// period marked.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "commands.h"

namespace qx480 {
namespace tool {

constexpr std::size_t DEFAULT_DIAGRAM_WIDTH = 80;
constexpr std::size_t MIN_DIAGRAM_WIDTH = 40;
constexpr std::size_t MAX_DIAGRAM_WIDTH = 1000;

struct TimingDiagram {
    std::vector<std::string> lines;  // none longer than the width asked for
    std::vector<int> pastPeriod;     // the channels whose pulse ends after the trigger period
};

// The diagram of `block` in at most `width` columns (MIN_DIAGRAM_WIDTH to
// MAX_DIAGRAM_WIDTH).
TimingDiagram DrawDiagram(const timing::Block& block, std::size_t width);

}  // namespace tool
}  // namespace qx480

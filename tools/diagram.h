// A text timing diagram of the eight channels: each channel's pulse (its
// delay, then its width) on one time axis, with the scale and the trigger
// period marked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// Where the diagram puts each thing on its common time axis of `columns`
// columns, `span` 10 ps counts each. The text diagram and the panel's
// picture are both drawn from it.
struct DiagramGeometry {
    // One channel's pulse: high from column `first` to column `last`, both
    // included; not high at all for a zero width.
    struct Pulse {
        bool high = false;
        std::size_t first = 0;
        std::size_t last = 0;
    };

    std::size_t columns = 0;
    std::uint64_t span = 0;        // 10 ps counts per column, round (1, 1.2, 1.5, 2, ... times a power of ten)
    std::uint64_t axisEnd = 0;     // span x columns, at most the largest count
    std::uint64_t period = 0;      // the trigger period in 10 ps counts; 0 when the device reports none
    std::size_t periodColumn = 0;  // the column where the period ends, at most `columns`; columns + 1 for none
    std::array<Pulse, CHANNEL_COUNT> pulses{};
    std::vector<int> pastPeriod;  // the channels whose pulse ends after the trigger period
};

// The geometry of `block` on an axis of `columns` columns (at least 1): the
// smallest round span that puts the trigger period and every pulse's end on it.
DiagramGeometry LayOutDiagram(const timing::Block& block, std::size_t columns);

// The diagram of `block` in at most `width` columns (MIN_DIAGRAM_WIDTH to
// MAX_DIAGRAM_WIDTH).
TimingDiagram DrawDiagram(const timing::Block& block, std::size_t width);

}  // namespace tool
}  // namespace qx480

// What the process holds, to show that a long run leaks neither descriptors
// nor memory.
#pragma once

#include <cstddef>

namespace qx480 {
namespace soak {

struct Resources {
    int openDescriptors = 0;
    // Blocks from operator new not yet freed.
    long long liveAllocations = 0;
    // Peak resident set size so far, in KiB.
    long peakRssKiB = 0;
};

Resources Measure();

}  // namespace soak
}  // namespace qx480

#include "process_resources.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "allocation_counter.h"

namespace qx480 {
namespace soak {
namespace {

int OpenDescriptors() {
    const long highest = sysconf(_SC_OPEN_MAX);
    int open = 0;
    for (int fd = 0; fd < highest && fd < 65536; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) ++open;
    }
    return open;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

Resources Measure() { return {OpenDescriptors(), test::LiveAllocations(), PeakRssKiB()}; }

}  // namespace soak
}  // namespace qx480

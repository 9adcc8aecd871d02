// qx480-capi-bench: the temperature read through the C interface
// (qx480_read_temperature) beside the same read through QX480DDG
// (ReadTemperature), on one simulated device in this process. Each side makes
// CALLS timed calls in blocks taken in turns, so that the load of a shared
// machine falls on both alike; a port is held by one side at a time, so each
// block opens it and closes it again. Prints the median and p99 of each side
// as rows of the table scripts/bench shows, with the goal for the C side.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "latency.h"
#include "qx480.h"
#include "qx480ddg.h"
#include "simulated_device.h"
#include "table.h"

namespace {

using qx480::bench::BAUD;
using qx480::bench::Format;
using qx480::bench::Latencies;
using qx480::bench::Row;
using qx480::bench::WARM_UP_CALLS;
using Clock = std::chrono::steady_clock;

constexpr int CALLS = 10000;
// Short blocks, so that a burst of load on the machine falls on both sides.
constexpr int CALLS_PER_BLOCK = 50;
// Untimed calls after each open, so that no block starts cold.
constexpr int CALLS_AFTER_OPEN = 5;
// The C interface adds a lock and a status table to the C++ call: no more
// than 2 per cent of an exchange.
constexpr double C_GOAL_RATIO = 1.02;

// One way to read the temperature: how it opens the port, reads and closes.
struct Side {
    const char* name;
    std::function<bool(const std::string& port)> open;
    std::function<bool()> read;
    std::function<void()> close;
    Latencies latencies{CALLS};
};

bool Untimed(Side& side, int calls) {
    for (int i = 0; i < calls; ++i) {
        if (!side.read()) return false;
    }
    return true;
}

// Opens the port, makes `calls` timed calls after a few untimed ones, closes it.
bool Block(Side& side, const std::string& port, int calls) {
    bool ok = side.open(port) && Untimed(side, CALLS_AFTER_OPEN);
    for (int i = 0; ok && i < calls; ++i) {
        const Clock::time_point start = Clock::now();
        ok = side.read();
        side.latencies.Add(Clock::now() - start);
    }
    side.close();
    return ok;
}

bool WarmUp(Side& side, const std::string& port) {
    const bool ok = side.open(port) && Untimed(side, WARM_UP_CALLS);
    side.close();
    return ok;
}

bool Measure(std::vector<Side>& sides, const std::string& port) {
    for (Side& side : sides) {
        if (!WarmUp(side, port)) return false;
    }
    for (int round = 0; round < CALLS / CALLS_PER_BLOCK; ++round) {
        for (Side& side : sides) {
            if (!Block(side, port, CALLS_PER_BLOCK)) return false;
        }
    }
    return true;
}

std::string Figures(Side& side) {
    return Format("median %.1f us, p99 %.1f us, %.0f calls", side.latencies.MedianUs(), side.latencies.P99Us(),
                  static_cast<double>(side.latencies.Count()));
}

void PrintRows(Side& c, Side& cpp) {
    const double ratio = c.latencies.MedianUs() / cpp.latencies.MedianUs();
    const std::string verdict = ratio <= C_GOAL_RATIO ? "met" : "MISSED";
    Row(c.name, Figures(c), Format("<= %.2f x C++: %.3f, ", C_GOAL_RATIO, ratio) + verdict);
    Row(cpp.name, Figures(cpp), "reference");
}

}  // namespace

int main() {
    qx480::sim::Options options;
    options.keepRequestLog = false;
    qx480::sim::SimulatedDevice sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "qx480-capi-bench: cannot start the simulated device: %s\n", sim.Error().c_str());
        return 1;
    }

    qx480_device* handle = nullptr;
    QX480DDG device;
    float celsius = 0;
    std::vector<Side> sides;
    sides.push_back({"capi: qx480_read_temperature (C interface)",
                     [&](const std::string& port) { return qx480_open(port.c_str(), BAUD, &handle) == QX480_OK; },
                     [&] { return qx480_read_temperature(handle, &celsius) == QX480_OK; },
                     [&] {
                         qx480_close(handle);
                         handle = nullptr;
                     }});
    sides.push_back({"capi: QX480DDG::ReadTemperature (C++)",
                     [&](const std::string& port) { return device.Open(port.c_str(), BAUD); },
                     [&] { return device.ReadTemperature(&celsius); }, [&] { device.Close(); }});

    if (!Measure(sides, sim.Path())) {
        std::fprintf(stderr, "qx480-capi-bench: a call failed\n");
        return 1;
    }
    std::printf("The C interface beside C++, %d temperature reads each on one simulated device\n", CALLS);
    Row("measurement", "result", "goal");
    PrintRows(sides[0], sides[1]);
    return 0;
}

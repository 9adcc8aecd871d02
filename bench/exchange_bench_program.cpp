// qx480-exchange-bench: the exchange figures of the Windows build, for a run
// under Wine. scripts/bench starts it through scripts/wine-harness with three
// native far ends, whose COM ports arrive in QX480_TEST_PORTS in this order:
// the simulated device, a byte echo (the floor) and a simulated device that
// drops every request (the wait). Prints rows for the table of scripts/bench.
//
//   qx480-exchange-bench [CALLS]      (default 10000 calls of each kind)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "latency.h"
#include "qx480ddg.h"
#include "table.h"

namespace {

using qx480::bench::BAUD;
using qx480::bench::CALLS_PER_BLOCK;
using qx480::bench::Format;
using qx480::bench::Row;
using qx480::bench::TIMING_CHANNEL;
using qx480::bench::WAITING_CALLS;
using qx480::bench::WARM_UP_CALLS;
using Clock = std::chrono::steady_clock;
using qx480::bench::Latencies;

constexpr int DEFAULT_CALLS = 10000;
constexpr int PING_SIZE = 10;
constexpr int PING_LIMIT_MS = 1000;
constexpr int EXIT_USAGE = 2;
constexpr double WAITING_GOAL_CPU_MS = 20.0;

// A 10-byte message out and the same 10 bytes back from the echo.
bool Ping(SerialPort& port) {
    const std::uint8_t out[PING_SIZE] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // any ten bytes
    std::uint8_t in[PING_SIZE];
    if (port.Write(out, PING_SIZE, PING_LIMIT_MS) != PING_SIZE) return false;
    int have = 0;
    while (have < PING_SIZE) {
        const int n = port.Read(in + have, PING_SIZE - have, PING_LIMIT_MS);
        if (n <= 0) return false;
        have += n;
    }
    return std::memcmp(in, out, PING_SIZE) == 0;
}

struct Kind {
    const char* what;
    std::function<bool()> call;
    Latencies latencies;
};

// Each kind in turn gets a block of calls, so that the load of the machine
// falls alike on all of them.
bool Measure(std::vector<Kind>& kinds, int calls) {
    for (Kind& k : kinds) {
        for (int i = 0; i < WARM_UP_CALLS; ++i) {
            if (!k.call()) return false;
        }
    }
    for (int done = 0; done < calls; done += CALLS_PER_BLOCK) {
        for (Kind& k : kinds) {
            for (int i = 0; i < CALLS_PER_BLOCK && done + i < calls; ++i) {
                const Clock::time_point start = Clock::now();
                if (!k.call()) return false;
                k.latencies.Add(Clock::now() - start);
            }
        }
    }
    return true;
}

double ThreadCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e4;  // 100 ns units
}

bool MeasureWaiting(QX480DDG& silent) {
    double cpuMs = 0;
    double wallMs = 0;
    float celsius = 0;
    for (int i = 0; i < WAITING_CALLS; ++i) {
        const double cpuStart = ThreadCpuMs();
        const Clock::time_point start = Clock::now();
        if (silent.ReadTemperature(&celsius)) return false;
        wallMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        cpuMs += ThreadCpuMs() - cpuStart;
    }
    Row("Wine: waiting: ReadTemperature, no answer (1000 ms)",
        Format("%.1f ms CPU in %.0f ms wall per call", cpuMs / WAITING_CALLS, wallMs / WAITING_CALLS),
        cpuMs / WAITING_CALLS < WAITING_GOAL_CPU_MS ? "< 20 ms CPU: met" : "< 20 ms CPU: MISSED");
    return true;
}

std::vector<std::string> Ports() {
    std::vector<std::string> ports;
    const char* list = std::getenv("QX480_TEST_PORTS");
    std::istringstream words(list != nullptr ? list : "");
    for (std::string port; words >> port;) ports.push_back(port);
    return ports;
}

int Fail(const char* what) {
    std::fprintf(stderr, "qx480-exchange-bench: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int calls = DEFAULT_CALLS;
    if (argc > 2 || (argc == 2 && (calls = std::atoi(argv[1])) <= 0)) {
        std::fprintf(stderr, "qx480-exchange-bench: usage: qx480-exchange-bench [CALLS > 0]\n");
        return EXIT_USAGE;
    }
    const std::vector<std::string> ports = Ports();
    if (ports.size() != 3) return Fail("QX480_TEST_PORTS must name three ports: device, echo, silent device");
    QX480DDG device;
    SerialPort echo;
    QX480DDG silent;
    if (!device.Open(ports[0].c_str(), BAUD) || !echo.Open(ports[1].c_str(), BAUD, 8, StopBits::One, Parity::None) ||
        !silent.Open(ports[2].c_str(), BAUD)) {
        return Fail("cannot open the ports");
    }
    float celsius = 0;
    QX480TimingConfig config{};
    std::vector<Kind> kinds;
    kinds.push_back({"Wine: floor: 10-byte ping-pong, socat echo", [&] { return Ping(echo); }, Latencies(calls)});
    kinds.push_back({"Wine: exchange: ReadTemperature, qx480-sim", [&] { return device.ReadTemperature(&celsius); },
                     Latencies(calls)});
    kinds.push_back({"Wine: exchange: ReadTimingConfig, qx480-sim",
                     [&] { return device.ReadTimingConfig(TIMING_CHANNEL, &config); }, Latencies(calls)});
    if (!Measure(kinds, calls)) return Fail("a call failed");
    const double floorUs = kinds[0].latencies.MedianUs();
    for (Kind& k : kinds) {
        const double median = k.latencies.MedianUs();
        Row(k.what,
            Format("median %.1f us, p99 %.1f us, %.0f calls", median, k.latencies.P99Us(),
                   static_cast<double>(k.latencies.Count())),
            &k == &kinds[0] ? "Wine reference" : Format("%.2f x Wine floor", median / floorUs));
    }
    if (!MeasureWaiting(silent)) return Fail("the silent device answered");
    return 0;
}

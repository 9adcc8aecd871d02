// qx480-exchange-client: one client of the exchange figures that
// python/bench/exchange_rounds.py compares, making one temperature query after
// another on a port that a responder (qx480-sim) serves.
//
//   qx480-exchange-client WAY PORT CALLS
//
// WAY is `floor` (what a hand-written program does: tcflush, write the
// 10-byte request, then poll and read until the 14-byte answer is in),
// `cpp` (QX480DDG::ReadTemperature) or `c` (qx480_read_temperature). It
// opens PORT, makes untimed calls to warm up, then times CALLS calls and
// prints the microseconds of each, one to a line.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qx480.h"
#include "qx480ddg.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int BAUD = 115200;
constexpr int WARM_UP_CALLS = 200;
constexpr int ANSWER_WAIT_MS = 1000;
constexpr int EXIT_USAGE = 2;
// READ_TEMP and its answer, as the device exchanges them.
constexpr std::uint8_t REQUEST[] = {0xEB, 0x90, 0x06, 0x00, 0x93, 0x00, 0x00, 0x14, 0x02, 0xCC};
constexpr int ANSWER_SIZE = 14;

// The floor: the fewest system calls that do the exchange on a raw line.
class FloorClient {
public:
    ~FloorClient() {
        if (m_fd >= 0) close(m_fd);
    }
    bool Open(const char* path) {
        m_fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (m_fd < 0 || tcgetattr(m_fd, &tio) != 0) return false;
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        return tcsetattr(m_fd, TCSANOW, &tio) == 0;
    }
    bool Exchange() {
        tcflush(m_fd, TCIFLUSH);
        if (write(m_fd, REQUEST, sizeof REQUEST) != static_cast<ssize_t>(sizeof REQUEST)) return false;
        std::uint8_t answer[ANSWER_SIZE];
        int have = 0;
        while (have < ANSWER_SIZE) {
            pollfd entry{m_fd, POLLIN, 0};
            if (poll(&entry, 1, ANSWER_WAIT_MS) <= 0) return false;
            const ssize_t n = read(m_fd, answer + have, static_cast<std::size_t>(ANSWER_SIZE - have));
            if (n > 0) have += static_cast<int>(n);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
        }
        return answer[4] == REQUEST[4];
    }

private:
    int m_fd = -1;
};

int Usage() {
    std::fprintf(stderr, "usage: qx480-exchange-client floor|cpp|c PORT CALLS\n");
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Usage();
    const std::string way = argv[1];
    const char* port = argv[2];
    const int calls = std::atoi(argv[3]);
    if (calls <= 0) return Usage();

    FloorClient floor;
    QX480DDG device;
    qx480_device* handle = nullptr;
    float celsius = 0;
    std::function<bool()> call;
    bool opened = false;
    if (way == "floor") {
        opened = floor.Open(port);
        call = [&] { return floor.Exchange(); };
    } else if (way == "cpp") {
        opened = device.Open(port, BAUD);
        call = [&] { return device.ReadTemperature(&celsius); };
    } else if (way == "c") {
        opened = qx480_open(port, BAUD, &handle) == QX480_OK;
        call = [&] { return qx480_read_temperature(handle, &celsius) == QX480_OK; };
    } else {
        return Usage();
    }
    if (!opened) {
        std::fprintf(stderr, "qx480-exchange-client: cannot open %s\n", port);
        return 1;
    }
    for (int i = 0; i < WARM_UP_CALLS; ++i) {
        if (!call()) {
            std::fprintf(stderr, "qx480-exchange-client: %s: a warm-up call failed\n", way.c_str());
            return 1;
        }
    }
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        const Clock::time_point start = Clock::now();
        const bool ok = call();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (!ok) {
            std::fprintf(stderr, "qx480-exchange-client: %s: call %d failed\n", way.c_str(), i + 1);
            return 1;
        }
    }
    if (handle != nullptr) qx480_close(handle);
    for (double t : us) std::printf("%.2f\n", t);
    return 0;
}

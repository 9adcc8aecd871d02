#include <qx480/qx480ddg.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "host_checks.h"

int Fail(const char* what) {
    std::printf("FAIL: %s\n", what);
    return 1;
}

int CheckInterface() {
    int failures = 0;
    // The constants by reference.
    const int channels = std::min(42, QX480DDG::CHANNEL_COUNT);
    std::vector<int> limits;
    limits.push_back(QX480DDG::TIMEOUT_MS);
    const int& count = QX480DDG::CHANNEL_COUNT;
    if (channels != 8 || limits[0] != 1000 || count != 8) failures += Fail("CHANNEL_COUNT and TIMEOUT_MS");

    // Command codes without a cast, and the raw byte still.
    std::vector<std::uint8_t> frame;
    QX480DDG::BuildFrame(QX480Command::READ_TEMP, 0, nullptr, 0, frame);
    const std::vector<std::uint8_t> readTemp{0xEB, 0x90, 0x06, 0x00, 0x93, 0x00, 0x00, 0x14, 0x02, 0xCC};
    if (frame != readTemp) failures += Fail("BuildFrame(QX480Command::READ_TEMP, ...)");
    QX480DDG::BuildFrame(0x93, 0, nullptr, 0, frame);
    if (frame != readTemp) failures += Fail("BuildFrame(0x93, ...)");
    QX480DDG::BuildFrameU32(QX480Command::SET_DELAY, 1, {1000, 0}, frame);
    if (frame.size() != 18 || frame[4] != 0x08 || frame[7] != 0xE8) failures += Fail("BuildFrameU32(SET_DELAY, ...)");

    QX480DDG dev;
    if (dev.Open(nullptr, 9600) || dev.IsOpen()) failures += Fail("QX480DDG::Open(nullptr, 9600)");
    QX480Frame response{};
    QX480Outcome outcome;
    if (dev.SendFrame(QX480Command::READ_TEMP, 0, nullptr, 0, &response, 1000, outcome) ||
        outcome.status != QX480Status::NotOpen) {
        failures += Fail("SendFrame(QX480Command::READ_TEMP, ...) on a closed device");
    }
    if (dev.SendFrameU32(QX480Command::SET_TRIG_FREQ, 0, {250000}, &response, 1000)) {
        failures += Fail("SendFrameU32(QX480Command::SET_TRIG_FREQ, ...) on a closed device");
    }
    SerialPort port;
    if (port.Open(nullptr, 9600, 8, StopBits::One, Parity::None)) failures += Fail("SerialPort::Open(nullptr, ...)");
    return failures;
}

int main() {
    const int failures = CheckInterface() + CheckOursFirst() + CheckWindowsFirst() + CheckLeanWindowsFirst();
    std::printf(failures == 0 ? "host interface: ok\n" : "host interface: %d failures\n", failures);
    return failures == 0 ? 0 : 1;
}

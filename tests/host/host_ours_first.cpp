#include <qx480/qx480ddg.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <vector>

#include "host_checks.h"

int CheckOursFirst() {
#ifdef _WIN32
    // Declared only when <windows.h> comes in whole: our header must not have made it lean.
    const DWORD now = timeGetTime();
    (void)now;
#endif
    std::vector<std::uint8_t> frame;
    QX480DDG::BuildFrame(QX480Command::READ_TIMING, 0, nullptr, 0, frame);
    const std::vector<std::uint8_t> readTiming{0xEB, 0x90, 0x06, 0x00, 0xC1, 0x00, 0x00, 0x42, 0x02, 0xCC};
    return frame == readTiming ? 0 : Fail("BuildFrame(QX480Command::READ_TIMING, ...) before <windows.h>");
}

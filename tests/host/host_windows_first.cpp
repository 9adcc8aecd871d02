#ifdef _WIN32
#include <windows.h>
#endif
#include <qx480/qx480ddg.h>

#include <vector>

#include "host_checks.h"

int CheckWindowsFirst() {
    // With <windows.h>'s min and max macros in force, our inline code still builds and works.
    std::vector<std::uint8_t> frame;
    QX480DDG::BuildFrameU32(QX480Command::SET_TRIG_FREQ, 0, {250000}, frame);
    const std::vector<std::uint8_t> oneKilohertz{0xEB, 0x90, 0x0A, 0x00, 0x05, 0x00, 0x00,
                                                 0x90, 0xD0, 0x03, 0x00, 0xED, 0x02, 0xCC};
    return frame == oneKilohertz ? 0 : Fail("BuildFrameU32 after <windows.h> with min/max");
}

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifdef _WIN32
#include <windows.h>
#endif
#include <qx480/qx480ddg.h>

#include "host_checks.h"

int CheckLeanWindowsFirst() {
    // The host's own lean <windows.h> first: the header's types and calls still serve.
    QX480Frame frame{};
    const std::uint8_t softwareTrigger[] = {0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC};
    const bool parsed = QX480DDG::ParseFrame(softwareTrigger, sizeof softwareTrigger, frame);
    return parsed && frame.cmd == qx480::CommandCode(QX480Command::SOFTWARE_TRIG)
               ? 0
               : Fail("ParseFrame after a lean <windows.h>");
}

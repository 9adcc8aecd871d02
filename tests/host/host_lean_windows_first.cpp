#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#ifdef _WIN32
#include <windows.h>
#endif
#include <qx480/qx480ddg.h>

#include "host_checks.h"

int CheckLeanWindowsFirst() {
    SerialPort port;
    return port.IsOpen() ? Fail("a lean <windows.h> before our header") : 0;
}

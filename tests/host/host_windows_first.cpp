#ifdef _WIN32
#include <windows.h>
#endif
#include <qx480/qx480ddg.h>

#include "host_checks.h"

int CheckWindowsFirst() {
    QX480DDG dev;
    return dev.Open(nullptr, 115200) ? Fail("<windows.h> with min/max before our header") : 0;
}

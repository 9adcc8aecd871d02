#include <qx480/qx480ddg.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "host_checks.h"

int CheckOursFirst() {
#ifdef _WIN32
    // Declared only when <windows.h> comes in whole, without WIN32_LEAN_AND_MEAN.
    const DWORD now = timeGetTime();
    (void)now;
#endif
    return QX480DDG::CHANNEL_COUNT == 8 ? 0 : Fail("our header before <windows.h>");
}

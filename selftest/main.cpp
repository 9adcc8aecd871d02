// QX480_UnitTest: the protocol self-test. Arguments are ignored.
#include "cases.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main() {
#ifdef _WIN32
    // The report is the same bytes on every platform: no "\r\n" from text mode.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return qx480::selftest::RunAllCases();
}

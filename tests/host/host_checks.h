// The checks of the host program, one function per translation unit; each
// returns the number of failures it printed.
#pragma once

int CheckInterface();
// Windows: <windows.h> after our header, in full (timeGetTime must be declared).
int CheckOursFirst();
// Windows: <windows.h> with its min/max macros before our header.
int CheckWindowsFirst();
// Windows: WIN32_LEAN_AND_MEAN and NOMINMAX set by the host, <windows.h> first.
int CheckLeanWindowsFirst();

int Fail(const char* what);

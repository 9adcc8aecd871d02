// What the qx480 tool needs from the operating system: the name the system
// opens a port by, the console and files written whole. One implementation per platform (platform_posix.cpp,
// platform_win32.cpp); the port list is in port_list.h.
#pragma once

#include <string>
#include <vector>

namespace qx480 {
namespace tool {

// A port name as this platform's help and examples show one.
std::string ExamplePortName();

// The name to open: on Windows COM1 to COM256 get the "\\.\" prefix that
// names above COM9 need; everything else goes through unchanged.
std::string SystemPortName(const std::string& port);

// "\\.\COMn" for "COMn" (any case, n from 1 to 256 without leading zeros), else `port` itself.
std::string WindowsDevicePath(const std::string& port);

// The program's arguments (without its name) in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes the console show UTF-8 ("µs") where it would not by itself.
void PrepareConsole();

// Replaces the file at `path` (UTF-8) with `content` as a whole: writes a
// temporary file beside it, then renames it over the old one, so that the
// file is never seen half written. False, with one line in `error` and the
// old file as it was, when that fails.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);

}  // namespace tool
}  // namespace qx480

// Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h needs what windows.h defines.
#include <shellapi.h>

#include <algorithm>

#include "platform.h"

namespace qx480 {
namespace tool {
namespace {

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(static_cast<std::size_t>(size - 1));
    return wide;
}

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD size =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = size > 0 ? Utf8(text) : "Windows error " + std::to_string(error);
    LocalFree(text);
    message.erase(message.find_last_not_of(" \r\n.") + 1);
    return message;
}

// "COM12" sorts after "COM9".
bool ComNameLess(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

struct ComPort {
    std::string name;    // COM3
    std::string device;  // \Device\Serial0
};

// The registry's map of serial devices to COM names. An absent key means no ports.
bool ReadSerialComm(std::vector<ComPort>& ports, std::string& error) {
    HKEY key;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) {
        error = "cannot read the serial port list (HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM): " + SystemMessage(opened);
        return false;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t value[256];
        wchar_t data[256];
        DWORD valueSize = 256;
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG got =
            RegEnumValueW(key, i, value, &valueSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (got == ERROR_NO_MORE_ITEMS) break;
        if (got != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        ports.push_back({Utf8(data), Utf8(value)});
    }
    RegCloseKey(key);
    return true;
}

}  // namespace

std::string DefaultPortName() { return "COM1"; }

std::string SystemPortName(const std::string& port) { return WindowsDevicePath(port); }

bool ListPorts(std::ostream& out, std::string& error) {
    std::vector<ComPort> ports;
    if (!ReadSerialComm(ports, error)) return false;
    std::sort(ports.begin(), ports.end(),
              [](const ComPort& a, const ComPort& b) { return ComNameLess(a.name, b.name); });
    for (const ComPort& p : ports) out << p.name << " " << p.device << "\n";
    return true;
}

// Opens the port again the plain way to learn what the system says about it.
std::string DescribeOpenFailure(const std::string& port, int baud) {
    const HANDLE h = CreateFileW(Wide(SystemPortName(port)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "no such port " + port;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return port + " is in use by another program";
        }
        return "cannot open " + port + ": " + SystemMessage(error);
    }
    CloseHandle(h);
    return "cannot set up " + port + " at " + std::to_string(baud) + " baud, 8 data bits, no parity, 1 stop bit";
}

// The command line as typed, in UTF-8 whatever the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv + std::min(argc, 1), argv + argc};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

bool HasSimulator() { return false; }

std::unique_ptr<LocalSimulator> StartSimulator(std::string& error) {
    error = "the simulated device needs a POSIX system";
    return nullptr;
}

}  // namespace tool
}  // namespace qx480

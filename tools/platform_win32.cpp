// Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h needs what windows.h defines.
#include <setupapi.h>
#include <shellapi.h>

#include <algorithm>

#include "platform.h"
#include "port_list.h"

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

// Names tried for a temporary file before giving up.
constexpr int TEMPORARY_NAME_TRIES = 100;

// The device setup class of serial and parallel ports ("Ports").
constexpr GUID PORTS_CLASS = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The registry's map of serial devices to COM names. An absent key means no ports.
bool ReadSerialComm(std::vector<PortInfo>& ports, std::string& error) {
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
        PortInfo port;
        port.path = Utf8(data);
        port.device = Utf8(value);
        ports.push_back(port);
    }
    RegCloseKey(key);
    return true;
}

// A string property of a device; the first string of a list. Empty when absent.
std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - 2 * sizeof(wchar_t), nullptr)) {
        return std::string();
    }
    return Utf8(text);
}

// The COM name a device of the ports class was given; empty for none (a printer port).
std::string DevicePortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return std::string();
    wchar_t name[64] = {};
    DWORD bytes = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG got = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes);
    RegCloseKey(key);
    return got == ERROR_SUCCESS && type == REG_SZ ? Utf8(name) : std::string();
}

// The friendly name and hardware id SetupAPI knows for each listed COM port.
void AddDeviceNames(std::vector<PortInfo>& ports) {
    const HDEVINFO devices = SetupDiGetClassDevsW(&PORTS_CLASS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        const std::string name = DevicePortName(devices, device);
        for (PortInfo& port : ports) {
            if (name.empty() || port.path != name) continue;
            port.friendlyName = DeviceProperty(devices, device, SPDRP_FRIENDLYNAME);
            port.hardwareId = DeviceProperty(devices, device, SPDRP_HARDWAREID);
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
}

// A new file beside `path` that no one else has; INVALID_HANDLE_VALUE when none could be made.
HANDLE CreateTemporaryBeside(const std::wstring& path, std::wstring& temporary) {
    for (int n = 0; n < TEMPORARY_NAME_TRIES; ++n) {
        temporary = path + L".qx480-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(n);
        const HANDLE h =
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, const std::string& content) {
    for (std::size_t done = 0; done < content.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1 << 20));
        if (!WriteFile(h, content.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return FlushFileBuffers(h) != 0;
}

}  // namespace

bool SerialPorts(std::vector<PortInfo>& ports, std::string& error) {
    std::vector<PortInfo> found;
    if (!ReadSerialComm(found, error)) return false;
    std::sort(found.begin(), found.end(),
              [](const PortInfo& a, const PortInfo& b) { return ComNameLess(a.path, b.path); });
    AddDeviceNames(found);
    ports = found;
    return true;
}

std::string ExamplePortName() { return "COM3"; }

std::string SystemPortName(const std::string& port) { return WindowsDevicePath(port); }

void PrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
    const std::wstring target = Wide(path);
    std::wstring temporary;
    const HANDLE h = CreateTemporaryBeside(target, temporary);
    if (h == INVALID_HANDLE_VALUE) {
        error = "cannot write " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    const bool written = WriteAll(h, content);
    DWORD why = GetLastError();
    const bool closed = CloseHandle(h) != 0;
    if (written && closed &&
        MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    if (written && closed) why = GetLastError();
    error = "cannot write " + path + ": " + SystemMessage(why);
    DeleteFileW(temporary.c_str());
    return false;
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

}  // namespace tool
}  // namespace qx480

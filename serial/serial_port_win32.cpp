// Windows backend of SerialPort: a COM device opened for overlapped I/O.
#include <string>

#include "dcb_line_settings.h"
#include "network_line.h"
#include "serial_port.h"

namespace {

// With this interval alone a read completes at once with what has arrived,
// even nothing (the setting of Open and of a read whose limit is 0); a write
// has no total limit in the driver. Read and Write bound their own waits.
constexpr DWORD READ_AT_ONCE_INTERVAL = MAXDWORD;
// The longest total time-out the driver takes for "wait for the first byte".
constexpr DWORD LONGEST_FIRST_BYTE_WAIT = MAXDWORD - 1;

bool UnderWine() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

// The read fields for a read limited to `timeoutMs`. With the interval and the
// multiplier MAXDWORD and a constant between 0 and MAXDWORD, Windows completes
// a read at once with what has arrived, else at the first byte, else after the
// constant: the read waits in the driver instead of spinning on empty reads.
// Wine (8.0) differs: there these values complete a read only when its whole
// buffer is full, while the read-at-once values leave a read that finds nothing
// pending until the first byte comes, which is what Windows does with the
// former; so under Wine reads keep the read-at-once values.
void SetReadFields(COMMTIMEOUTS& timeouts, int timeoutMs) {
    timeouts.ReadIntervalTimeout = READ_AT_ONCE_INTERVAL;
    const bool atOnce = timeoutMs == 0 || UnderWine();
    timeouts.ReadTotalTimeoutMultiplier = atOnce ? 0 : MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = atOnce          ? 0
                                        : timeoutMs < 0 ? LONGEST_FIRST_BYTE_WAIT
                                                        : static_cast<DWORD>(timeoutMs);
}

bool SameReadFields(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant;
}

DWORD WaitLimit(int timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

// Why CreateFileW refused a name. A COM port that another program holds is
// refused with ERROR_ACCESS_DENIED.
SerialOpenError OpenErrorOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return SerialOpenError::NoSuchPort;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return SerialOpenError::Busy;
        default: return SerialOpenError::Other;
    }
}

}  // namespace

SerialPort::SerialPort()
    : m_hPort(INVALID_HANDLE_VALUE), m_ovRead{}, m_ovWrite{}, m_timeouts{}, m_hostTimeouts(false) {}

SerialPort::~SerialPort() { Close(); }

bool SerialPort::OpenLocal(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                           SerialOpenError& why) {
    Close();
    why = SerialOpenError::BadArgument;
    if (portName == nullptr || baudRate <= 0) return false;
    why = SerialOpenError::Other;
    if (!CreateOverlappedEvents()) return false;
    m_hPort =
        CreateFileW(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_hPort == INVALID_HANDLE_VALUE) {
        why = OpenErrorOf(GetLastError());
        DestroyOverlappedEvents();
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(m_hPort, &dcb)) {
        why = SerialOpenError::NotSerial;
        Close();
        return false;
    }
    qx480::detail::ApplyLineSettings(dcb, baudRate, dataBits, stopBits, parity);
    if (!SetCommState(m_hPort, &dcb)) {
        why = SerialOpenError::Settings;
        Close();
        return false;
    }
    PurgeComm(m_hPort, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    SetTimeoutLocal(0, 0);
    why = SerialOpenError::None;
    return true;
}

bool SerialPort::OpenLocal(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                           SerialOpenError& why) {
    Close();
    why = SerialOpenError::BadArgument;
    if (portName == nullptr) return false;
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, portName, -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wideName(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, portName, -1, &wideName[0], length) != length) return false;
    return OpenLocal(wideName.c_str(), baudRate, dataBits, stopBits, parity, why);
}

void SerialPort::CloseLocal() {
    if (m_hPort != INVALID_HANDLE_VALUE) {
        CancelIo(m_hPort);
        CloseHandle(m_hPort);
        m_hPort = INVALID_HANDLE_VALUE;
    }
    m_timeouts = COMMTIMEOUTS{};
    m_hostTimeouts = false;
    DestroyOverlappedEvents();
}

bool SerialPort::IsOpenLocal() const { return m_hPort != INVALID_HANDLE_VALUE; }

SerialPort::NativeHandle SerialPort::GetHandleLocal() const { return m_hPort; }

int SerialPort::ReadLocal(void* buffer, int size, int timeoutMs) { return Transfer(true, buffer, size, timeoutMs); }

// The driver's write functions never change the buffer; one helper serves both directions.
int SerialPort::WriteLocal(const void* buffer, int size, int timeoutMs) {
    return Transfer(false, const_cast<void*>(buffer), size, timeoutMs);
}

int SerialPort::Transfer(bool isRead, void* buffer, int size, int timeoutMs) {
    if (!IsOpen() || buffer == nullptr || size <= 0) return -1;
    OVERLAPPED& ov = isRead ? m_ovRead : m_ovWrite;
    if (isRead) LimitReadInDriver(timeoutMs);
    ResetEvent(ov.hEvent);
    ov.Offset = 0;
    ov.OffsetHigh = 0;
    DWORD count = 0;
    const DWORD wanted = static_cast<DWORD>(size);
    const BOOL done =
        isRead ? ReadFile(m_hPort, buffer, wanted, &count, &ov) : WriteFile(m_hPort, buffer, wanted, &count, &ov);
    if (done) return static_cast<int>(count);
    // Only a pending transfer may be collected: Wine waits for good on one that never started.
    if (GetLastError() != ERROR_IO_PENDING) return -1;

    const DWORD waited = WaitForSingleObject(ov.hEvent, WaitLimit(timeoutMs));
    if (waited != WAIT_OBJECT_0) {
        // The transfer must be over before the caller's buffer and our record are used again.
        CancelIo(m_hPort);
        GetOverlappedResult(m_hPort, &ov, &count, TRUE);
        return waited == WAIT_TIMEOUT ? static_cast<int>(count) : -1;
    }
    if (GetOverlappedResult(m_hPort, &ov, &count, FALSE)) return static_cast<int>(count);
    const DWORD error = GetLastError();
    if (isRead && (error == ERROR_HANDLE_EOF || error == ERROR_IO_INCOMPLETE)) return static_cast<int>(count);
    return -1;
}

bool SerialPort::DiscardInputLocal() {
    if (!IsOpen()) return false;
    return PurgeComm(m_hPort, PURGE_RXABORT | PURGE_RXCLEAR) != FALSE;
}

// The driver's read fields follow each read's limit, set only when it differs
// from the last read's; time-outs that the host set stay as they are.
void SerialPort::LimitReadInDriver(int timeoutMs) {
    if (m_hostTimeouts) return;
    COMMTIMEOUTS wanted = m_timeouts;
    SetReadFields(wanted, timeoutMs);
    if (!SameReadFields(wanted, m_timeouts) && SetCommTimeouts(m_hPort, &wanted)) m_timeouts = wanted;
}

bool SerialPort::SetTimeoutLocal(int /*unused*/, int writeTimeoutMs) {
    if (!IsOpen()) return false;
    COMMTIMEOUTS timeouts{READ_AT_ONCE_INTERVAL, 0, 0, 0, static_cast<DWORD>(writeTimeoutMs)};
    if (!SetCommTimeouts(m_hPort, &timeouts)) return false;
    m_timeouts = timeouts;
    m_hostTimeouts = false;
    return true;
}

bool SerialPort::SetTimeoutsLocal(const COMMTIMEOUTS& timeouts) {
    if (!IsOpen()) return false;
    COMMTIMEOUTS copy = timeouts;
    if (!SetCommTimeouts(m_hPort, &copy)) return false;
    m_timeouts = copy;
    m_hostTimeouts = true;
    return true;
}

bool SerialPort::CreateOverlappedEvents() {
    m_ovRead.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_ovRead.hEvent == nullptr) return false;
    m_ovWrite.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_ovWrite.hEvent == nullptr) {
        CloseHandle(m_ovRead.hEvent);
        m_ovRead.hEvent = nullptr;
        return false;
    }
    return true;
}

void SerialPort::DestroyOverlappedEvents() {
    if (m_ovRead.hEvent != nullptr) {
        CloseHandle(m_ovRead.hEvent);
        m_ovRead.hEvent = nullptr;
    }
    if (m_ovWrite.hEvent != nullptr) {
        CloseHandle(m_ovWrite.hEvent);
        m_ovWrite.hEvent = nullptr;
    }
}

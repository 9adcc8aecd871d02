// One serial port with bounded, blocking reads and writes.
//
// Windows: a COM device opened for overlapped I/O; the driver's time-outs make
// a read return at once with what has arrived. POSIX: a termios tty opened
// non-blocking and exclusive; a read waits with poll() for the first byte.
// Either way each Read and Write is bounded by the limit given with the call.
//
// The header defines no macros of its own: on Windows it includes
// <windows.h> as the host has set it up (WIN32_LEAN_AND_MEAN, NOMINMAX or
// not), before or after the host's own include.
#pragma once

#include <cstddef>

#include "qx480_export.h"

#ifdef _WIN32
#include <windows.h>
#endif

enum class StopBits : int { One = 0, OnePointFive = 1, Two = 2 };
enum class Parity : int { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

class QX480_EXPORT SerialPort {
public:
#ifdef _WIN32
    using NativeHandle = HANDLE;
#else
    using NativeHandle = int;
#endif

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Closes the port first if it is open. Returns true when the device is
    // open and configured; on false the port is closed and nothing is held.
    // Windows passes the name to CreateFileW unchanged ("\\\\.\\COM10").
    // POSIX refuses data bits outside 5..8, OnePointFive stop bits, and
    // Mark/Space parity where the system has no CMSPAR, and any format or
    // rate the driver does not keep (a pseudo-terminal runs 8N1 only); a
    // second open of a device that is held already fails.
    bool Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity);
    // The same with a UTF-8 name.
    bool Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity);
    // No name: closes the port and returns false.
    bool Open(std::nullptr_t, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
        return Open(static_cast<const char*>(nullptr), baudRate, dataBits, stopBits, parity);
    }
    // Safe to repeat.
    void Close();
    bool IsOpen() const;
    // The device handle (Windows) or file descriptor (POSIX); INVALID_HANDLE_VALUE / -1 while closed.
    NativeHandle GetHandle() const;

    // Up to `size` bytes. Returns the count read (0 when nothing came within
    // the limit) or -1: closed port, null buffer, size <= 0, a failed transfer,
    // or (POSIX) the far end hung up. timeoutMs < 0 waits without limit, 0 not at all.
    int Read(void* buffer, int size, int timeoutMs);
    // Returns the count written, short when the limit passed first, or -1.
    int Write(const void* buffer, int size, int timeoutMs);

    // Throws away whatever waits on the receive side. False on a closed port.
    bool DiscardInput();

    // Sets the driver's write time-out (Windows; POSIX keeps no driver
    // time-outs and only reports whether the port is open). The first argument
    // has no effect.
    bool SetTimeout(int unused, int writeTimeoutMs);
#ifdef _WIN32
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
#endif

private:
#ifdef _WIN32
    bool CreateOverlappedEvents();
    void DestroyOverlappedEvents();
    int Transfer(bool isRead, void* buffer, int size, int timeoutMs);

    HANDLE m_hPort;
    OVERLAPPED m_ovRead;
    OVERLAPPED m_ovWrite;
#else
    int m_fd;
#endif
};

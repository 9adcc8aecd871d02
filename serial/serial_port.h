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

// Why an Open failed.
enum class SerialOpenError : int {
    None,         // the port is open
    BadArgument,  // a null name or one that is no valid text, a rate of 0 or below, a format the system cannot express
    NoSuchPort,   // no device of that name
    Busy,         // held by another program
    Permission,   // not allowed to open it (POSIX: is the user in the dialout group?)
    NotSerial,    // the device is not a serial port
    Settings,     // the driver refused or did not keep the line format or rate
    Other,        // anything else the system refused, such as running out of handles
};

class QX480_EXPORT SerialPort {
public:
#ifdef _WIN32
    using NativeHandle = HANDLE;
#else
    using NativeHandle = int;
#endif

    // A closed port.
    SerialPort();
    // Closes the port.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens `portName` at `baudRate` with the given line format, closing the
    // port first if it is open. True when the device is open and configured;
    // on false the port is closed and nothing is held. Fails for: no such
    // device, a device held by another program (POSIX: flock and TIOCEXCL;
    // under Wine a second open is not refused), no permission, a device that
    // is not a serial port, a rate of 0 or below, and a line format or rate
    // the driver does not keep (a pseudo-terminal runs 8N1 only; POSIX also
    // refuses data bits outside 5..8, OnePointFive stop bits, and Mark/Space
    // parity where the system has no CMSPAR). Windows passes the name to
    // CreateFileW unchanged ("COM3", "\\.\COM10") and sets time-outs that
    // make each read return at once with what has arrived.
    bool Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity);
    // The same, with the reason of a failure in `why` (None on success).
    bool Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
              SerialOpenError& why);
    // The same with a UTF-8 name (Windows: a name that is not valid UTF-8 fails).
    bool Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity);
    bool Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity, SerialOpenError& why);
    // No name: closes the port and returns false.
    bool Open(std::nullptr_t, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
        return Open(static_cast<const char*>(nullptr), baudRate, dataBits, stopBits, parity);
    }
    // Closes the port and releases its handle and events; safe to repeat.
    void Close();
    bool IsOpen() const;
    // The device handle (Windows) or file descriptor (POSIX); INVALID_HANDLE_VALUE / -1 while closed.
    NativeHandle GetHandle() const;

    // Reads up to `size` bytes into `buffer`. Returns the count read: 0 when
    // nothing came within the limit, which is not an error. -1 for a closed
    // port, a null buffer, size <= 0, a failed transfer, or (POSIX) a far end
    // that hung up; the port stays open. timeoutMs < 0 waits without limit,
    // 0 not at all. A transfer that outlives its limit is cancelled and
    // collected before the call returns: nothing touches `buffer` afterwards.
    int Read(void* buffer, int size, int timeoutMs);
    // Writes `size` bytes from `buffer`. Returns the count written, short when
    // the limit passed first, or -1 (as for Read; also when a write fails
    // after some bytes went out).
    int Write(const void* buffer, int size, int timeoutMs);

    // Throws away whatever waits on the receive side (Windows: PurgeComm with
    // RXABORT and RXCLEAR). False on a closed port.
    bool DiscardInput();

    // Sets the driver's write time-out (Windows; POSIX keeps no driver
    // time-outs and only reports whether the port is open). The first argument
    // has no effect. False on a closed port or when the driver refuses.
    bool SetTimeout(int unused, int writeTimeoutMs);
#ifdef _WIN32
    // Sets all of the driver's time-outs. Reads then wait in the driver as
    // `timeouts` says instead of returning at once; each Read and Write is
    // still bounded by its own limit. False on a closed port or when the
    // driver refuses.
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

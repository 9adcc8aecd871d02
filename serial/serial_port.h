/// \file
/// One serial port with bounded, blocking reads and writes.
///
/// Windows: a COM device opened for overlapped I/O; a read waits in the driver
/// for its first byte. POSIX: a termios tty opened non-blocking and exclusive;
/// a read takes what has arrived or waits with poll() for the first byte.
/// Either way a read returns what has arrived as soon as anything has, and
/// each Read and Write is bounded by the limit given with the call.
///
/// The header defines no macros of its own: on Windows it includes
/// <windows.h> as the host has set it up (WIN32_LEAN_AND_MEAN, NOMINMAX or
/// not), before or after the host's own include.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "qx480_export.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qx480 {
namespace detail {
class NetworkLine;
}  // namespace detail
}  // namespace qx480

/// Stop bits of the line format.
enum class StopBits : int { One = 0, OnePointFive = 1, Two = 2 };
/// Parity of the line format.
enum class Parity : int { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

/// Why an Open failed.
enum class SerialOpenError : int {
    None,         ///< the port is open
    BadArgument,  ///< a null name or one that is no valid text, a rate of 0 or below, a format the system cannot
                  ///< express
    NoSuchPort,   ///< no device of that name
    Busy,         ///< held by another program
    Permission,   ///< not allowed to open it (POSIX: is the user in the dialout group?)
    NotSerial,    ///< the device is not a serial port
    Settings,     ///< the driver refused or did not keep the line format or rate
    Other,        ///< anything else the system refused, such as running out of handles
    // Network ports (socket://, rfc2217://):
    UnknownHost,        ///< the host name is not known
    ConnectionRefused,  ///< nothing listens on that port of the host
    NoConnection,       ///< the host did not answer, or the network cannot reach it
    ServerClosed,       ///< the server closed the connection: its port is in use, or its device failed
    NoNegotiation,      ///< the server did not answer, or refused, the telnet negotiation
};

/// One serial port with bounded, blocking reads and writes; used by one thread at a time.
class QX480_EXPORT SerialPort {
public:
    /// The system's handle of an open device: a HANDLE on Windows, a file descriptor on POSIX.
#ifdef _WIN32
    using NativeHandle = HANDLE;
#else
    using NativeHandle = int;
#endif

    /// A closed port.
    SerialPort();
    /// Closes the port.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    /// Opens `portName` at `baudRate` with the given line format, closing the
    /// port first if it is open. The name is a local device or one of these:
    ///   socket://HOST:PORT   raw TCP to a terminal server. The server owns the
    ///                        line: the rate and format are taken, not applied.
    ///   rfc2217://HOST:PORT  telnet with the COM-PORT-OPTION (RFC 2217): the
    ///                        rate and format are set, and Open fails with
    ///                        Settings when the server keeps another value.
    /// HOST is a name, an IPv4 address or a bracketed IPv6 address ("[::1]").
    /// A network Open (lookup, connect, negotiation) ends within 3000 ms.
    /// True when the device is open and configured;
    /// on false the port is closed and nothing is held. Fails for: no such
    /// device, a device held by another program (POSIX: flock and TIOCEXCL;
    /// under Wine a second open is not refused), no permission, a device that
    /// is not a serial port, a rate of 0 or below, and a line format or rate
    /// the driver does not keep (a pseudo-terminal runs 8N1 only; POSIX also
    /// refuses data bits outside 5..8, OnePointFive stop bits, and Mark/Space
    /// parity where the system has no CMSPAR). Windows passes the name to
    /// CreateFileW unchanged ("COM3", "\\.\COM10") and sets time-outs that
    /// make a read return at once with what has arrived; each Read then sets
    /// its own limit in the driver (see Read).
    bool Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity);
    /// The same, with the reason of a failure in `why` (None on success).
    bool Open(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
              SerialOpenError& why);
    ///@{
    /// The same with a UTF-8 name (Windows: a name that is not valid UTF-8 fails).
    bool Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity);
    bool Open(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity, SerialOpenError& why);
    ///@}
    /// No name: closes the port and returns false.
    bool Open(std::nullptr_t, int baudRate, int dataBits, StopBits stopBits, Parity parity) {
        return Open(static_cast<const char*>(nullptr), baudRate, dataBits, stopBits, parity);
    }
    /// Closes the port and releases its handle and events; safe to repeat.
    void Close();
    /// True while the port is open.
    bool IsOpen() const;
    /// After a failed network Open, what the server said or did, in one line
    /// ("the server set 9600 baud for 115200 baud", "Port already in use");
    /// empty otherwise. Valid until the next Open or Close.
    const char* OpenFailureDetail() const;
    /// The device handle (Windows) or file descriptor (POSIX); INVALID_HANDLE_VALUE / -1 while closed.
    /// A network port gives its socket (Windows: the SOCKET as a HANDLE).
    NativeHandle GetHandle() const;

    /// Reads up to `size` bytes into `buffer`: what has arrived, at once, or
    /// else what arrives first within the limit (Windows sets the driver's
    /// read time-outs to do so, unless SetTimeouts gave others; a network port
    /// waits as POSIX does). Returns the count read: 0 when nothing came within
    /// the limit, which is not an error. -1 for a closed port, a null buffer,
    /// size <= 0, a failed transfer, or a far end that hung up (POSIX, and
    /// every network port: a closed or reset connection fails at once); the
    /// port stays open. timeoutMs < 0 waits without limit, 0 not at all. A
    /// transfer that outlives its limit is cancelled and collected before the
    /// call returns: nothing touches `buffer` afterwards.
    int Read(void* buffer, int size, int timeoutMs);
    /// Writes `size` bytes from `buffer`. Returns the count written, short when
    /// the limit passed first, or -1 (as for Read; also when a write fails
    /// after some bytes went out).
    int Write(const void* buffer, int size, int timeoutMs);

    /// Throws away whatever waits on the receive side (Windows: PurgeComm with
    /// RXABORT and RXCLEAR; rfc2217://: the server purges its buffer too, and
    /// what arrives before it confirms is dropped). False on a closed port.
    bool DiscardInput();

    /// Sets the driver's write time-out (Windows; POSIX keeps no driver
    /// time-outs and only reports whether the port is open), and hands the
    /// read time-outs back to Read after SetTimeouts. The first argument has no
    /// effect. False on a closed port or when the driver refuses.
    bool SetTimeout(int unused, int writeTimeoutMs);
#ifdef _WIN32
    /// Sets all of the driver's time-outs. Reads then wait in the driver as
    /// `timeouts` says instead of as Read sets them; each Read and Write is
    /// still bounded by its own limit. False on a closed port or when the
    /// driver refuses.
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
#endif

private:
    // The local device (one source file per platform); the public calls above
    // go to these or to m_network.
    bool OpenLocal(const wchar_t* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                   SerialOpenError& why);
    bool OpenLocal(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                   SerialOpenError& why);
    bool OpenNetwork(const char* portName, int baudRate, int dataBits, StopBits stopBits, Parity parity,
                     SerialOpenError& why);
    void CloseLocal();
    bool IsOpenLocal() const;
    NativeHandle GetHandleLocal() const;
    int ReadLocal(void* buffer, int size, int timeoutMs);
    int WriteLocal(const void* buffer, int size, int timeoutMs);
    bool DiscardInputLocal();
    bool SetTimeoutLocal(int unused, int writeTimeoutMs);
#ifdef _WIN32
    bool SetTimeoutsLocal(const COMMTIMEOUTS& timeouts);
    bool CreateOverlappedEvents();
    void DestroyOverlappedEvents();
    int Transfer(bool isRead, void* buffer, int size, int timeoutMs);
    void LimitReadInDriver(int timeoutMs);

    HANDLE m_hPort;
    OVERLAPPED m_ovRead;
    OVERLAPPED m_ovWrite;
    COMMTIMEOUTS m_timeouts;  // the driver's time-outs as last set
    bool m_hostTimeouts;      // set by SetTimeouts: reads no longer set their own
#else
    int m_fd;
#endif
    std::unique_ptr<qx480::detail::NetworkLine> m_network;  // set while a network port is open
    std::string m_openFailureDetail;
};

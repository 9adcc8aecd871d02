/// \file
/// What became of one call to the device: accepted, or why it failed.
///
/// Every command, query and exchange of QX480DDG can report its outcome
/// through a QX480Outcome; the plain bool of each call is outcome.ok().
#pragma once

#include <cstdint>
#include <string>

#include "qx480_export.h"
#include "serial_port.h"

/// What became of a call: Accepted, or the reason it failed.
enum class QX480Status : std::uint8_t {
    Accepted,         ///< the device answered this request and accepted it
    BadArgument,      ///< an argument was refused before any I/O; nothing was sent
    NotOpen,          ///< the port is not open; nothing was sent
    WriteIncomplete,  ///< the request was not written in full within the limit
    NoAnswer,         ///< no frame head arrived within the limit
    CorruptAnswer,    ///< a frame failed its length, tail or checksum test, or was incomplete when time ran out
    PortFailed,       ///< the port's Read or Write failed: a hang-up, an unplugged adapter
    Refused,          ///< the device answered, and the option byte of its answer says no
    ShortAnswer,      ///< a query's answer carries fewer parameter bytes than the query needs
    Echo,             ///< a query came back as its own request's bytes: a loopback or a local echo
    // Why Open failed:
    PortNotFound,    ///< no such port
    PortBusy,        ///< held by another program
    PortPermission,  ///< not allowed to open it
    NotSerial,       ///< not a serial port
    PortSettings,    ///< the port refused the line settings or the baud rate
    OpenFailed,      ///< the system refused the open for another reason
    // Failures of the library itself, which the C interface reports:
    OutOfMemory,  ///< the library ran out of memory
    Internal,     ///< the library failed for a reason of its own
    // Why the Open of a network port (socket://, rfc2217://) failed:
    UnknownHost,        ///< the host name is not known
    ConnectionRefused,  ///< the host refused the connection: nothing listens on that port
    NoConnection,       ///< the host did not answer within the limit, or the network cannot reach it
    ServerClosed,       ///< the server closed the connection: its port is in use, or its device failed
    NoNegotiation,      ///< the server did not answer, or refused, the telnet (RFC 2217) negotiation
};

/// The outcome of one call: its status and the command it concerned.
struct QX480Outcome {
    QX480Status status = QX480Status::Accepted;  ///< Accepted, or why the call failed
    /// The request's command code, also when nothing was sent; 0 for Open.
    std::uint8_t cmd = 0;

    /// True when the device answered the request and accepted it.
    bool ok() const { return status == QX480Status::Accepted; }
    /// The same as ok().
    explicit operator bool() const { return ok(); }
};

/// Everything said about one status, in every language the library speaks.
struct QX480StatusRow {
    QX480Status status;         ///< the status this row describes
    std::int32_t code;          ///< the C interface's status code (QX480_ERR_...); never changes or gets reused
    const char* name;           ///< the C name of the code: "QX480_ERR_NO_ANSWER"
    const char* text;           ///< a short lower-case description: "no answer"
    const char* sentence;       ///< one English sentence, as qx480_status_text gives it
    const char* kind;           ///< snake case, as the tool's --json records name it: "no_answer"
    int exitStatus;             ///< the qx480 tool's exit status (exit_status.h)
    bool retryMayHelp;          ///< the same request, sent again, may succeed
    const char* failureLine;    ///< why a step failed: {port}, {what}, {ms}, {baud} and {detail} are filled in
    SerialOpenError openError;  ///< the port's open error that Open reports as this status; None for the rest
};

/// The row of `status`; a value outside the enumeration gets Internal's.
QX480_EXPORT const QX480StatusRow& QX480StatusRowOf(QX480Status status);

/// The row whose C code is `code`, or null when no status has it. OpenFailed
/// reaches C as QX480_ERR_INTERNAL, so that code finds Internal's row.
QX480_EXPORT const QX480StatusRow* QX480StatusRowOfCode(std::int32_t code);

/// The status Open reports for the port's open error `why`.
QX480_EXPORT QX480Status QX480StatusOfOpenError(SerialOpenError why);

/// The step an open failure's line names.
inline constexpr const char* QX480_OPEN_STEP = "opening it";

/// The one line that says why `what` (a step: "the delay 10 ns for channel 1";
/// QX480_OPEN_STEP for Open at `baud`) ended with `status` on `port`: "no answer
/// from COM3 within 1000 ms to the delay 10 ns for channel 1: is the device on,
/// on this port, at this baud rate?". `detail`, what a terminal server said
/// (SerialPort::OpenFailureDetail), ends an open failure's line after ": ".
QX480_EXPORT std::string QX480FailureLine(QX480Status status, const std::string& port, const std::string& what,
                                          int baud, const std::string& detail = "");

/// A short lower-case description of a status: "no answer", "refused by the device".
QX480_EXPORT const char* QX480StatusText(QX480Status status);

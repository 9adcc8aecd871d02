// What became of one call to the device: accepted, or why it failed.
//
// Every command, query and exchange of QX480DDG can report its outcome
// through a QX480Outcome; the plain bool of each call is outcome.ok().
#pragma once

#include <cstdint>

#include "qx480_export.h"

enum class QX480Status : std::uint8_t {
    Accepted,         // the device answered this request and accepted it
    BadArgument,      // an argument was refused before any I/O; nothing was sent
    NotOpen,          // the port is not open; nothing was sent
    WriteIncomplete,  // the request was not written in full within the limit
    NoAnswer,         // no frame head arrived within the limit
    CorruptAnswer,    // a frame failed its length, tail or checksum test, or was incomplete when time ran out
    PortFailed,       // the port's Read or Write failed: a hang-up, an unplugged adapter
    Refused,          // the device answered, and the option byte of its answer says no
    ShortAnswer,      // a query's answer carries fewer parameter bytes than the query needs
    Echo,             // a query came back as its own request's bytes: a loopback or a local echo
    // Why Open failed:
    PortNotFound,    // no such port
    PortBusy,        // held by another program
    PortPermission,  // not allowed to open it
    NotSerial,       // not a serial port
    PortSettings,    // the port refused the line settings or the baud rate
    OpenFailed,      // the system refused the open for another reason
};

struct QX480Outcome {
    QX480Status status = QX480Status::Accepted;
    // The request's command code, also when nothing was sent; 0 for Open.
    std::uint8_t cmd = 0;

    bool ok() const { return status == QX480Status::Accepted; }
    explicit operator bool() const { return ok(); }
};

// A short lower-case description of a status: "no answer", "refused by the device".
QX480_EXPORT const char* QX480StatusText(QX480Status status);

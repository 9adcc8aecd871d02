#include "outcome.h"

#include <cstddef>

#include "exit_status.h"
#include "qx480ddg.h"

namespace {

// One row per status, in the enumeration's order. Adding a status is adding
// its row here (and its code to the C header and its exception class to Python).
constexpr QX480StatusRow STATUS_TABLE[] = {
    {QX480Status::Accepted, 0, "QX480_OK", "accepted", "The device answered the request and accepted it.", "accepted",
     qx480::EXIT_OK, false, "{what} on {port} was accepted", SerialOpenError::None},
    {QX480Status::BadArgument, -1, "QX480_ERR_ARGUMENT", "an argument was refused",
     "An argument was refused; nothing was sent.", "bad_argument", qx480::EXIT_USAGE, false,
     "the library refused the arguments of {what}", SerialOpenError::BadArgument},
    {QX480Status::NotOpen, -2, "QX480_ERR_NOT_OPEN", "the port is not open", "The device's port is not open.",
     "not_open", qx480::EXIT_OPEN, false, "{port} is not open for {what}", SerialOpenError::None},
    {QX480Status::WriteIncomplete, -8, "QX480_ERR_WRITE", "the request was not written in full",
     "The request was not written in full within the time limit.", "write_incomplete", qx480::EXIT_NO_ANSWER, true,
     "{what} could not be written to {port} within {ms} ms", SerialOpenError::None},
    {QX480Status::NoAnswer, -9, "QX480_ERR_NO_ANSWER", "no answer",
     "No answer came within the time limit: is the device on, on this port, at this baud rate?", "no_answer",
     qx480::EXIT_NO_ANSWER, true,
     "no answer from {port} within {ms} ms to {what}: is the device on, on this port, at this baud rate?",
     SerialOpenError::None},
    {QX480Status::CorruptAnswer, -10, "QX480_ERR_BAD_ANSWER", "a corrupted answer",
     "The answer was corrupted or incomplete: check the baud rate and the cable.", "corrupt_answer",
     qx480::EXIT_NO_ANSWER, true, "a corrupted answer from {port} to {what}: check the baud rate and the cable",
     SerialOpenError::None},
    {QX480Status::PortFailed, -11, "QX480_ERR_PORT", "the port failed", "The port failed: was it unplugged?",
     "port_failed", qx480::EXIT_NO_ANSWER, false, "{port} failed during {what}: was it unplugged?",
     SerialOpenError::None},
    {QX480Status::Refused, -12, "QX480_ERR_REFUSED", "refused by the device", "The device refused the request.",
     "refused", qx480::EXIT_REFUSED, false, "the device on {port} refused {what}", SerialOpenError::None},
    {QX480Status::ShortAnswer, -13, "QX480_ERR_SHORT_ANSWER", "an answer too short for the query",
     "The answer was too short for the query.", "short_answer", qx480::EXIT_NO_ANSWER, false,
     "the answer from {port} to {what} is too short to hold what was asked for", SerialOpenError::None},
    {QX480Status::Echo, -14, "QX480_ERR_ECHO", "the request came back as its answer",
     "The request came back as its answer: a loopback plug or a local echo is on the line.", "echo",
     qx480::EXIT_NO_ANSWER, false, "{port} echoes requests back: a loopback plug or a local echo is in the way",
     SerialOpenError::None},
    {QX480Status::PortNotFound, -3, "QX480_ERR_NO_PORT", "no such port", "There is no such port.", "port_not_found",
     qx480::EXIT_OPEN, false, "no such port {port}", SerialOpenError::NoSuchPort},
    {QX480Status::PortBusy, -4, "QX480_ERR_PORT_BUSY", "the port is in use by another program",
     "The port is held by another program.", "port_busy", qx480::EXIT_OPEN, false,
     "{port} is in use by another program", SerialOpenError::Busy},
    {QX480Status::PortPermission, -5, "QX480_ERR_PERMISSION", "no permission to open the port",
     "There is no permission to open the port.", "port_permission", qx480::EXIT_OPEN, false,
     "no permission to open {port}{permission}", SerialOpenError::Permission},
    {QX480Status::NotSerial, -6, "QX480_ERR_NOT_SERIAL", "not a serial port", "The port is not a serial port.",
     "not_serial", qx480::EXIT_OPEN, false, "{port} is not a serial port", SerialOpenError::NotSerial},
    {QX480Status::PortSettings, -7, "QX480_ERR_SETTINGS", "the port refused the line settings or the baud rate",
     "The port refused the line settings or the baud rate.", "port_settings", qx480::EXIT_OPEN, false,
     "cannot set up {port} at {baud} baud, 8 data bits, no parity, 1 stop bit{detail}", SerialOpenError::Settings},
    {QX480Status::OpenFailed, -16, "QX480_ERR_INTERNAL", "the port could not be opened",
     "The system refused to open the port.", "open_failed", qx480::EXIT_OPEN, false, "cannot open {port}",
     SerialOpenError::Other},
    {QX480Status::OutOfMemory, -15, "QX480_ERR_MEMORY", "out of memory", "The library ran out of memory.",
     "out_of_memory", qx480::EXIT_LOCAL, false, "the library ran out of memory during {what} on {port}",
     SerialOpenError::None},
    {QX480Status::Internal, -16, "QX480_ERR_INTERNAL", "a failure of the system or the library",
     "The system or the library failed for a reason of its own.", "internal", qx480::EXIT_LOCAL, false,
     "{what} on {port} failed for a reason of the system or the library", SerialOpenError::None},
    {QX480Status::UnknownHost, -17, "QX480_ERR_UNKNOWN_HOST", "unknown host",
     "The terminal server's host name is not known.", "unknown_host", qx480::EXIT_OPEN, false,
     "cannot open {port}: unknown host{detail}", SerialOpenError::UnknownHost},
    {QX480Status::ConnectionRefused, -18, "QX480_ERR_CONNECTION_REFUSED", "the connection was refused",
     "The host refused the connection: nothing listens on that port.", "connection_refused", qx480::EXIT_OPEN, false,
     "cannot open {port}: the host refused the connection (is the terminal server's port right?)",
     SerialOpenError::ConnectionRefused},
    {QX480Status::NoConnection, -19, "QX480_ERR_NO_CONNECTION", "the host could not be reached",
     "The host did not answer, or the network cannot reach it.", "no_connection", qx480::EXIT_OPEN, false,
     "cannot open {port}: the host cannot be reached{detail}", SerialOpenError::NoConnection},
    {QX480Status::ServerClosed, -20, "QX480_ERR_SERVER_CLOSED", "the server closed the connection",
     "The server closed the connection: its port is in use, or its device failed.", "server_closed", qx480::EXIT_OPEN,
     false, "cannot open {port}: the server closed the connection (its port in use by another client?){detail}",
     SerialOpenError::ServerClosed},
    {QX480Status::NoNegotiation, -21, "QX480_ERR_NEGOTIATION", "no RFC 2217 negotiation",
     "The server did not answer, or refused, the RFC 2217 negotiation.", "no_negotiation", qx480::EXIT_OPEN, false,
     "cannot open {port}: the server does not speak RFC 2217 (try socket://){detail}", SerialOpenError::NoNegotiation},
};

constexpr std::size_t ROW_COUNT = sizeof STATUS_TABLE / sizeof STATUS_TABLE[0];

constexpr bool OneRowPerStatusInOrder() {
    for (std::size_t i = 0; i < ROW_COUNT; ++i) {
        if (static_cast<std::size_t>(STATUS_TABLE[i].status) != i) return false;
    }
    return ROW_COUNT == static_cast<std::size_t>(QX480Status::NoNegotiation) + 1;
}
static_assert(OneRowPerStatusInOrder(), "STATUS_TABLE holds one row per status, in the enumeration's order");

// Each C code names one status, but OpenFailed's, which is Internal's.
constexpr bool CodesUnique() {
    for (std::size_t i = 0; i < ROW_COUNT; ++i) {
        for (std::size_t j = i + 1; j < ROW_COUNT; ++j) {
            const bool shared = STATUS_TABLE[i].code == STATUS_TABLE[j].code;
            const bool allowed =
                STATUS_TABLE[i].status == QX480Status::OpenFailed && STATUS_TABLE[j].status == QX480Status::Internal;
            if (shared && !allowed) return false;
        }
    }
    return true;
}
static_assert(CodesUnique(), "a C status code belongs to one status");

// Every open error of the port is some status's.
constexpr bool EveryOpenErrorHasARow() {
    for (int why = 0; why <= static_cast<int>(SerialOpenError::NoNegotiation); ++why) {
        bool found = false;
        for (const QX480StatusRow& row : STATUS_TABLE) found = found || static_cast<int>(row.openError) == why;
        if (!found) return false;
    }
    return true;
}
static_assert(EveryOpenErrorHasARow(), "STATUS_TABLE gives every SerialOpenError a status");

#ifdef __linux__
constexpr const char* PERMISSION_HINT = " (is your user in the dialout group?)";
#else
constexpr const char* PERMISSION_HINT = "";
#endif

// `line` with each {field} replaced by its value in one pass, so that a
// value holding braces (a port name) is never read as a field.
std::string FillIn(const std::string& line, const std::string (&fields)[6][2]) {
    std::string text;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t open = line.find('{', at);
        const std::size_t close = open == std::string::npos ? open : line.find('}', open);
        if (close == std::string::npos) break;
        text.append(line, at, open - at);
        const std::string name = line.substr(open + 1, close - open - 1);
        for (const auto& field : fields) {
            if (field[0] == name) text += field[1];
        }
        at = close + 1;
    }
    return text.append(line, at, std::string::npos);
}

}  // namespace

const QX480StatusRow& QX480StatusRowOf(QX480Status status) {
    const auto index = static_cast<std::size_t>(status);
    return STATUS_TABLE[index < ROW_COUNT ? index : static_cast<std::size_t>(QX480Status::Internal)];
}

QX480Status QX480StatusOfOpenError(SerialOpenError why) {
    for (const QX480StatusRow& row : STATUS_TABLE) {
        if (row.openError == why) return row.status;
    }
    return QX480Status::OpenFailed;
}

// From the end, so that a code shared by two statuses finds the later, general one.
const QX480StatusRow* QX480StatusRowOfCode(std::int32_t code) {
    for (std::size_t i = ROW_COUNT; i-- > 0;) {
        if (STATUS_TABLE[i].code == code) return &STATUS_TABLE[i];
    }
    return nullptr;
}

std::string QX480FailureLine(QX480Status status, const std::string& port, const std::string& what, int baud,
                             const std::string& detail) {
    const std::string fields[6][2] = {{"port", port},
                                      {"what", what},
                                      {"ms", std::to_string(QX480DDG::TIMEOUT_MS)},
                                      {"baud", std::to_string(baud)},
                                      {"permission", PERMISSION_HINT},
                                      {"detail", detail.empty() ? "" : ": " + detail}};
    return FillIn(QX480StatusRowOf(status).failureLine, fields);
}

const char* QX480StatusText(QX480Status status) { return QX480StatusRowOf(status).text; }

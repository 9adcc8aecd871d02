#include "failure.h"

#include <cstddef>

#include "exit_status.h"
#include "platform.h"
#include "qx480ddg.h"

namespace qx480 {
namespace tool {
namespace {

// How each outcome is reported: the line has {port}, {what}, {ms} and {baud}
// filled in.
struct FailureRow {
    QX480Status status;
    const char* kind;
    int exitStatus;
    const char* line;
};

constexpr FailureRow FAILURES[] = {
    {QX480Status::Accepted, "accepted", EXIT_OK, "{what} on {port} was accepted"},
    {QX480Status::BadArgument, "bad_argument", EXIT_USAGE, "the library refused the arguments of {what}"},
    {QX480Status::NotOpen, "not_open", EXIT_OPEN, "{port} is not open for {what}"},
    {QX480Status::WriteIncomplete, "write_incomplete", EXIT_NO_ANSWER,
     "{what} could not be written to {port} within {ms} ms"},
    {QX480Status::NoAnswer, "no_answer", EXIT_NO_ANSWER,
     "no answer from {port} within {ms} ms to {what}: is the device on, on this port, at this baud rate?"},
    {QX480Status::CorruptAnswer, "corrupt_answer", EXIT_NO_ANSWER,
     "a corrupted answer from {port} to {what}: check the baud rate and the cable"},
    {QX480Status::PortFailed, "port_failed", EXIT_NO_ANSWER, "{port} failed during {what}: was it unplugged?"},
    {QX480Status::Refused, "refused", EXIT_REFUSED, "the device on {port} refused {what}"},
    {QX480Status::ShortAnswer, "short_answer", EXIT_NO_ANSWER,
     "the answer from {port} to {what} is too short to hold what was asked for"},
    {QX480Status::Echo, "echo", EXIT_NO_ANSWER,
     "{port} echoes requests back: a loopback plug or a local echo is in the way"},
    {QX480Status::PortNotFound, "port_not_found", EXIT_OPEN, "no such port {port}"},
    {QX480Status::PortBusy, "port_busy", EXIT_OPEN, "{port} is in use by another program"},
    {QX480Status::PortPermission, "port_permission", EXIT_OPEN, "no permission to open {port}{permission}"},
    {QX480Status::NotSerial, "not_serial", EXIT_OPEN, "{port} is not a serial port"},
    {QX480Status::PortSettings, "port_settings", EXIT_OPEN,
     "cannot set up {port} at {baud} baud, 8 data bits, no parity, 1 stop bit"},
    {QX480Status::OpenFailed, "open_failed", EXIT_OPEN, "cannot open {port}"},
};

constexpr std::size_t ROW_COUNT = sizeof FAILURES / sizeof FAILURES[0];

constexpr bool OneRowPerStatusInOrder() {
    for (std::size_t i = 0; i < ROW_COUNT; ++i) {
        if (static_cast<std::size_t>(FAILURES[i].status) != i) return false;
    }
    return ROW_COUNT == static_cast<std::size_t>(QX480Status::OpenFailed) + 1;
}
static_assert(OneRowPerStatusInOrder(), "FAILURES holds one row per status, in the enumeration's order");

// A status outside the enumeration is reported as a failed open would be.
const FailureRow& RowOf(QX480Status status) {
    const auto index = static_cast<std::size_t>(status);
    return FAILURES[index < ROW_COUNT ? index : ROW_COUNT - 1];
}

void Fill(std::string& text, const std::string& field, const std::string& value) {
    const std::size_t at = text.find(field);
    if (at != std::string::npos) text.replace(at, field.size(), value);
}

std::string Line(QX480Status status, const std::string& port, const std::string& what, int baud) {
    std::string text = RowOf(status).line;
    Fill(text, "{port}", port);
    Fill(text, "{what}", what);
    Fill(text, "{ms}", std::to_string(QX480DDG::TIMEOUT_MS));
    Fill(text, "{baud}", std::to_string(baud));
    Fill(text, "{permission}", PermissionHint());
    return text;
}

}  // namespace

std::string FailureKind(QX480Status status) { return RowOf(status).kind; }

int FailureExitStatus(QX480Status status) { return RowOf(status).exitStatus; }

std::string DescribeFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what) {
    return Line(outcome.status, port, what, 0);
}

std::string DescribeOpenFailure(const QX480Outcome& outcome, const std::string& port, int baud) {
    return Line(outcome.status, port, "opening it", baud);
}

Failure DeviceFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what) {
    return {FailureKind(outcome.status), FailureExitStatus(outcome.status), {DescribeFailure(outcome, port, what)}};
}

Failure ToolFailure(const std::string& kind, int exitStatus, const std::string& line) {
    return {kind, exitStatus, {line}};
}

}  // namespace tool
}  // namespace qx480

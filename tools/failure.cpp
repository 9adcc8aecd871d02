#include "failure.h"

namespace qx480 {
namespace tool {

std::string FailureKind(QX480Status status) { return QX480StatusRowOf(status).kind; }

int FailureExitStatus(QX480Status status) { return QX480StatusRowOf(status).exitStatus; }

std::string DescribeFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what) {
    return QX480FailureLine(outcome.status, port, what, 0);
}

std::string DescribeOpenFailure(const QX480Outcome& outcome, const std::string& port, int baud,
                                const std::string& detail) {
    return QX480FailureLine(outcome.status, port, QX480_OPEN_STEP, baud, detail);
}

Failure DeviceFailure(const QX480Outcome& outcome, const std::string& port, const std::string& what) {
    return {FailureKind(outcome.status), FailureExitStatus(outcome.status), {DescribeFailure(outcome, port, what)}};
}

Failure ToolFailure(const std::string& kind, int exitStatus, const std::string& line) {
    return {kind, exitStatus, {line}};
}

}  // namespace tool
}  // namespace qx480

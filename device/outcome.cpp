#include "outcome.h"

#include <cstddef>

namespace {

// Indexed by QX480Status.
constexpr const char* STATUS_TEXT[] = {
    "accepted",
    "an argument was refused",
    "the port is not open",
    "the request was not written in full",
    "no answer",
    "a corrupted answer",
    "the port failed",
    "refused by the device",
    "an answer too short for the query",
    "the request came back as its answer",
    "no such port",
    "the port is in use by another program",
    "no permission to open the port",
    "not a serial port",
    "the port refused the line settings or the baud rate",
    "the port could not be opened",
};
static_assert(sizeof STATUS_TEXT / sizeof STATUS_TEXT[0] == static_cast<std::size_t>(QX480Status::OpenFailed) + 1,
              "one text per status");

}  // namespace

const char* QX480StatusText(QX480Status status) {
    const auto index = static_cast<std::size_t>(status);
    return index < sizeof STATUS_TEXT / sizeof STATUS_TEXT[0] ? STATUS_TEXT[index] : "unknown status";
}

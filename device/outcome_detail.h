// How the device's calls record their outcome.
#pragma once

#include "commands.h"
#include "outcome.h"

namespace qx480 {
namespace detail {

// Records `status` and returns whether the call succeeded.
inline bool Conclude(QX480Outcome& outcome, QX480Status status) {
    outcome.status = status;
    return outcome.ok();
}

// Refuses an argument of `cmd` before anything is sent.
inline bool RefuseArgument(QX480Outcome& outcome, QX480Command cmd) {
    outcome.cmd = CommandCode(cmd);
    return Conclude(outcome, QX480Status::BadArgument);
}

}  // namespace detail
}  // namespace qx480

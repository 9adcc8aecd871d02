// The device a command runs on: the built-in simulated device, or the port
// that --port or QX480_PORT names, opened before anything is sent so that a
// port that is missing or in use is reported as such and not as a silent
// device.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "command_line.h"
#include "failure.h"
#include "qx480ddg.h"
#include "simulator.h"

namespace qx480 {
namespace tool {

struct OpenedDevice {
    std::unique_ptr<LocalSimulator> simulator;  // set with --simulate; outlives the device
    QX480DDG device;
    std::string port;  // the port as messages name it
};

// Opens `opened` as `inv` asks (--simulate, --port, --baud, --trace); an
// empty inv.port stands for QX480_PORT's `environmentPort`. False with the
// failure printed on `out` or `err` as the other failures are (--json: one
// record) and its exit status in `status`.
bool OpenDevice(const Invocation& inv, const std::string& environmentPort, OpenedDevice& opened, int& status,
                std::ostream& out, std::ostream& err);

// Prints a failure that ends the run before or outside any step, as
// `step`'s record; returns its exit status.
int Fail(const std::string& step, const Failure& failure, bool json, std::ostream& out, std::ostream& err);

}  // namespace tool
}  // namespace qx480

// The tool's built-in simulated device: served on a loopback TCP port from a
// thread of this process, so that --simulate goes through the same port code
// as a terminal server does, on every platform.
#pragma once

#include <memory>
#include <string>

#include "tcp_device_server.h"

namespace qx480 {
namespace tool {

class LocalSimulator {
public:
    // Starts the device; false with one line in `error`.
    bool Start(std::string& error);
    // The port name a host opens: socket://127.0.0.1:PORT.
    std::string Path() const { return m_device.Url(); }

private:
    sim::TcpDeviceServer m_device;
};

// Null with one line in `error` when the device cannot be started.
std::unique_ptr<LocalSimulator> StartSimulator(std::string& error);

}  // namespace tool
}  // namespace qx480

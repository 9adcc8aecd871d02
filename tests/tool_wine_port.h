// The COM port the Windows tool tests talk to: scripts/wine-harness serves a
// native qx480-sim behind it and names it in QX480_TEST_PORTS.
#pragma once

#include <cstdlib>
#include <string>

namespace tooltest {

// The harness's first port, "\\.\COM5" -> "COM5", so that the tool must add the prefix itself.
inline std::string HarnessPort() {
    const char* ports = std::getenv("QX480_TEST_PORTS");
    std::string port = ports == nullptr ? "" : ports;
    port = port.substr(0, port.find(' '));
    const std::string prefix = "\\\\.\\";
    if (port.compare(0, prefix.size(), prefix) == 0) port.erase(0, prefix.size());
    return port;
}

}  // namespace tooltest

#include "simulator.h"

namespace qx480 {
namespace tool {

bool LocalSimulator::Start(std::string& error) {
    if (m_device.Start("127.0.0.1", 0)) return true;
    error = "could not start the simulated device: " + m_device.Error();
    return false;
}

std::unique_ptr<LocalSimulator> StartSimulator(std::string& error) {
    auto simulator = std::make_unique<LocalSimulator>();
    if (!simulator->Start(error)) return nullptr;
    return simulator;
}

}  // namespace tool
}  // namespace qx480

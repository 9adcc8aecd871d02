#include <cctype>

#include "platform.h"

namespace qx480 {
namespace tool {

constexpr int HIGHEST_COM_PORT = 256;

std::string WindowsDevicePath(const std::string& port) {
    if (port.size() < 4 || port.size() > 6) return port;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(port[static_cast<std::size_t>(i)])) != "COM"[i]) return port;
    }
    const std::string number = port.substr(3);
    if (number[0] == '0' || number.find_first_not_of("0123456789") != std::string::npos) return port;
    if (std::stoi(number) > HIGHEST_COM_PORT) return port;
    return "\\\\.\\" + port;
}

}  // namespace tool
}  // namespace qx480

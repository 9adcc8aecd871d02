#include "hex.h"

#include <cctype>
#include <stdexcept>

namespace qx480 {
namespace test {
namespace {

int DigitValue(char c, const std::string& text) {
    const std::string digits = "0123456789abcdef";
    const std::size_t at = digits.find(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (at == std::string::npos) throw std::invalid_argument("not a hex digit in \"" + text + "\"");
    return static_cast<int>(at);
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) throw std::invalid_argument("a lone hex digit ends \"" + text + "\"");
        bytes.push_back(static_cast<std::uint8_t>(DigitValue(text[i], text) * 16 + DigitValue(text[i + 1], text)));
        i += 2;
    }
    return bytes;
}

}  // namespace test
}  // namespace qx480

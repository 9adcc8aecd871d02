// Frames as the tests spell them: pairs of hex digits, "EB 90 06 00".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx480 {
namespace test {

using Bytes = std::vector<std::uint8_t>;

// The bytes of `text`: pairs of hex digits in either case, with or without
// whitespace between the pairs. Throws std::invalid_argument for anything
// else (a lone digit, a stray character), so a mistyped frame fails its test
// instead of checking against other bytes.
Bytes Hex(const std::string& text);

}  // namespace test
}  // namespace qx480

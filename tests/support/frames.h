// Frames built and parsed by the library's codec, and the parameter blocks
// they carry, for tests that put frames together byte by byte.
#pragma once

#include <cstdint>

#include "frame.h"
#include "hex.h"

namespace qx480 {
namespace test {

// The frame BuildFrame makes (empty when it refuses the parameters).
Bytes FrameOf(std::uint8_t cmd, std::uint16_t opt, const Bytes& pa = {});
// The record ParseFrame makes of `bytes`; valid is false when it refused them.
QX480Frame Parsed(const Bytes& bytes);

// Parameter blocks of one value, laid out as on the wire.
Bytes U32(std::uint32_t value);
Bytes U64(std::uint64_t value);
Bytes F32(float value);

// `a` followed by `b`. Bytes is a std type, so a file takes this with
// `using qx480::test::operator+;`.
Bytes operator+(Bytes a, const Bytes& b);

}  // namespace test
}  // namespace qx480

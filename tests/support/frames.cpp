#include "frames.h"

namespace qx480 {
namespace test {

Bytes FrameOf(std::uint8_t cmd, std::uint16_t opt, const Bytes& pa) {
    Bytes frame;
    BuildFrame(cmd, opt, pa.data(), static_cast<int>(pa.size()), frame);
    return frame;
}

QX480Frame Parsed(const Bytes& bytes) {
    QX480Frame frame{};
    ParseFrame(bytes.data(), static_cast<int>(bytes.size()), frame);
    return frame;
}

Bytes U32(std::uint32_t value) {
    Bytes pa(4);
    PutU32(pa.data(), value);
    return pa;
}

Bytes U64(std::uint64_t value) {
    Bytes pa(8);
    PutU64(pa.data(), value);
    return pa;
}

Bytes F32(float value) {
    Bytes pa(4);
    PutF32(pa.data(), value);
    return pa;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace test
}  // namespace qx480

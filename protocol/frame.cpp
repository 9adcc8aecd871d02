#include "frame.h"

#include <cstdio>
#include <cstring>

namespace qx480 {

std::uint16_t Checksum(const std::uint8_t* data, int size) {
    std::uint16_t sum = 0;
    for (int i = 0; i < size; ++i) sum = static_cast<std::uint16_t>(sum + data[i]);
    return sum;
}

void BuildFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen,
                std::vector<std::uint8_t>& out) {
    if (paLen < 0 || paLen > frame::MAX_PA || (pa == nullptr && paLen > 0)) {
        out.clear();
        return;
    }
    out.resize(static_cast<std::size_t>(paLen) + frame::OVERHEAD);
    std::uint8_t* p = out.data();
    p[0] = frame::HEAD0;
    p[1] = frame::HEAD1;
    PutU16(p + frame::LEN_OFFSET, static_cast<std::uint16_t>(paLen + frame::LEN_OVERHEAD));
    p[frame::CMD_OFFSET] = cmd;
    PutU16(p + frame::OPT_OFFSET, opt);
    if (paLen > 0) std::memcpy(p + frame::PA_OFFSET, pa, static_cast<std::size_t>(paLen));
    const int summed = frame::PA_OFFSET + paLen;
    PutU16(p + summed, Checksum(p, summed));
    p[summed + 2] = frame::TAIL;
}

void BuildFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                   std::vector<std::uint8_t>& out) {
    if (words.size() > static_cast<std::size_t>(frame::MAX_WORDS)) {
        out.clear();
        return;
    }
    std::vector<std::uint8_t> pa(words.size() * 4);
    for (std::size_t i = 0; i < words.size(); ++i) PutU32(&pa[i * 4], words[i]);
    BuildFrame(cmd, opt, pa.empty() ? nullptr : pa.data(), static_cast<int>(pa.size()), out);
}

void DumpFrame(const std::vector<std::uint8_t>& frame, const char* label) {
    if (frame.empty()) return;
    if (label != nullptr) std::printf("%s: ", label);
    for (std::uint8_t b : frame) std::printf("%02X ", b);
    std::printf("(%zu bytes)\n", frame.size());
}

bool ParseFrame(const std::uint8_t* data, int size, QX480Frame& out) {
    out.valid = false;
    out.cmd = 0;
    out.opt = 0;
    out.pa.clear();
    if (data == nullptr || size < frame::PA_OFFSET) return false;
    if (data[0] != frame::HEAD0 || data[1] != frame::HEAD1) return false;
    const int len = GetU16(data + frame::LEN_OFFSET);
    if (len < frame::MIN_LEN || size < len + frame::LEN_TO_FRAME) return false;
    if (data[len + 3] != frame::TAIL) return false;
    // The checksum covers everything from head0 up to the last PA byte, data[len].
    if (Checksum(data, len + 1) != GetU16(data + len + 1)) return false;
    out.cmd = data[frame::CMD_OFFSET];
    out.opt = GetU16(data + frame::OPT_OFFSET);
    out.pa.assign(data + frame::PA_OFFSET, data + len + 1);
    out.valid = true;
    return true;
}

}  // namespace qx480

std::uint32_t QX480Frame::ReadU32(int offset) const {
    if (offset < 0 || static_cast<std::size_t>(offset) + 4 > pa.size()) return 0;
    const std::uint8_t* p = pa.data() + offset;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t QX480Frame::ReadU64(int offset) const {
    if (offset < 0 || offset > INT32_MAX - 4) return 0;
    return static_cast<std::uint64_t>(ReadU32(offset)) | static_cast<std::uint64_t>(ReadU32(offset + 4)) << 32;
}

float QX480Frame::ReadFloat(int offset) const {
    const std::uint32_t bits = ReadU32(offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

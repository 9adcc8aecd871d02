// What the fuzz targets share: a reader that takes typed values off the front
// of the fuzzer's input, and a check that aborts with a message, which
// libFuzzer and the replay driver both report as a crash of that input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : ::qx480::fuzz::Fail(#condition, __FILE__, __LINE__))

namespace qx480 {
namespace fuzz {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

// Values run out gracefully: past the end every read gives 0 and Take gives
// fewer bytes, so every input, however short, is a complete test.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t Remaining() const { return m_size - m_pos; }

    std::uint8_t Byte() { return Remaining() > 0 ? m_data[m_pos++] : 0; }
    bool Bool() { return (Byte() & 1) != 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(U16()) | static_cast<std::uint32_t>(U16()) << 16; }
    std::uint64_t U64() { return static_cast<std::uint64_t>(U32()) | static_cast<std::uint64_t>(U32()) << 32; }

    // Up to `count` bytes; `taken` says how many there were.
    const std::uint8_t* Take(std::size_t count, std::size_t& taken) {
        taken = std::min(count, Remaining());
        const std::uint8_t* p = m_data + m_pos;
        m_pos += taken;
        return p;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}  // namespace fuzz
}  // namespace qx480

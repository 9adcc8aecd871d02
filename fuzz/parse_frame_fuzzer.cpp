// ParseFrame on arbitrary bytes, then the readers on every frame it accepts.
// An accepted frame must be exactly what the wire format describes and build
// back to the same bytes; a rejection must leave the record reset.
#include <climits>
#include <cstring>
#include <vector>

#include "frame.h"
#include "fuzz_support.h"

namespace {

using qx480::GetU16;
namespace frame = qx480::frame;

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void CheckRejected(const QX480Frame& out) {
    FUZZ_CHECK(!out.valid);
    FUZZ_CHECK(out.cmd == 0 && out.opt == 0 && out.pa.empty());
}

void CheckAccepted(const std::uint8_t* data, int size, const QX480Frame& out) {
    FUZZ_CHECK(out.valid);
    FUZZ_CHECK(data[0] == frame::HEAD0 && data[1] == frame::HEAD1);
    const int len = GetU16(data + frame::LEN_OFFSET);
    FUZZ_CHECK(len >= frame::MIN_LEN && len + frame::LEN_TO_FRAME <= size);
    const int whole = len + frame::LEN_TO_FRAME;
    FUZZ_CHECK(data[whole - 1] == frame::TAIL);
    FUZZ_CHECK(out.pa.size() == static_cast<std::size_t>(len - frame::LEN_OVERHEAD));
    FUZZ_CHECK(out.cmd == data[frame::CMD_OFFSET] && out.opt == GetU16(data + frame::OPT_OFFSET));

    // The decoded fields build back into the very bytes that were parsed.
    std::vector<std::uint8_t> rebuilt;
    qx480::BuildFrame(out.cmd, out.opt, out.pa.data(), static_cast<int>(out.pa.size()), rebuilt);
    FUZZ_CHECK(rebuilt.size() == static_cast<std::size_t>(whole));
    FUZZ_CHECK(std::memcmp(rebuilt.data(), data, rebuilt.size()) == 0);
}

// What a four-byte read at `offset` must give: the bytes when they lie wholly
// inside the PA, else 0. Wide arithmetic, so offset + 4 cannot overflow here.
std::uint32_t Expected32(const std::vector<std::uint8_t>& pa, long long offset) {
    if (offset < 0 || offset + 4 > static_cast<long long>(pa.size())) return 0;
    return LittleEndian32(pa.data() + offset);
}

void CheckReadersAt(const QX480Frame& f, int offset) {
    const std::uint32_t u32 = f.ReadU32(offset);
    FUZZ_CHECK(u32 == Expected32(f.pa, offset));

    const float value = f.ReadFloat(offset);
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    FUZZ_CHECK(bits == u32);

    // A negative offset gives 0 even where the high word would lie inside the PA.
    const std::uint64_t expected64 =
        offset < 0 ? 0 : static_cast<std::uint64_t>(Expected32(f.pa, static_cast<long long>(offset) + 4)) << 32 | u32;
    FUZZ_CHECK(f.ReadU64(offset) == expected64);
}

void CheckReaders(const QX480Frame& f) {
    const int end = static_cast<int>(f.pa.size());
    for (int offset = -8; offset <= end + 8; ++offset) CheckReadersAt(f, offset);
    for (int offset : {INT_MIN, INT_MIN + 4, -1, INT_MAX - 8, INT_MAX - 4, INT_MAX - 3, INT_MAX}) {
        CheckReadersAt(f, offset);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > static_cast<std::size_t>(frame::MAX_FRAME) * 2) return 0;
    const int n = static_cast<int>(size);

    // A record that held an earlier frame, as a caller reusing it would have.
    QX480Frame out{true, 0x55, 0x1234, {9, 9, 9}};
    const bool accepted = qx480::ParseFrame(data, n, out);
    FUZZ_CHECK(accepted == out.valid);
    if (!accepted) {
        CheckRejected(out);
        return 0;
    }
    CheckAccepted(data, n, out);
    CheckReaders(out);
    return 0;
}

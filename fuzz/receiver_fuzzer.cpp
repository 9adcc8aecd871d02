// The receiver fed a fuzzed byte stream in fuzzed pieces, with fuzzed
// "nothing came" reads, read errors and a scripted clock that may wrap.
//
// Input: u16 limit (taken as limit - 64, so limits of 0 and below occur),
// u32 clock start, u16 stream length, the stream, then one control byte per
// read: 0xFF fails the read, below 0x40 gives nothing and moves the clock by
// 4 x the byte, anything else hands out up to (byte & 0x3F) + 1 bytes. Once the
// control bytes run out, reads hand out all they ask for, or, with the stream
// used up, give nothing after waiting out their own limit.
//
// Checked whatever the outcome: no read starts once the limit is up, every
// read asks for what the phase needs and no more, a frame is taken from the
// first EB 90 in the stream and never read past, and the record is left as
// the contract says.
#include <vector>

#include "frame_receiver.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace frame = qx480::frame;
namespace detail = qx480::detail;

constexpr int LIMIT_BIAS = 64;
constexpr std::uint8_t READ_ERROR = 0xFF;
constexpr std::uint8_t NOTHING_BELOW = 0x40;
constexpr std::uint8_t PIECE_MASK = 0x3F;
constexpr std::uint32_t MS_PER_NOTHING_STEP = 4;

struct ScriptedClock {
    std::uint32_t now = 0;
    std::uint32_t operator()() const { return now; }
};

class ScriptedSource {
public:
    ScriptedSource(ScriptedClock& clock, const Bytes& stream, const Bytes& control, std::uint32_t start, int limit)
        : m_clock(clock), m_stream(stream), m_control(control), m_start(start), m_limit(limit) {}

    int Read(std::uint8_t* buf, int size, int limitMs) {
        FUZZ_CHECK(buf != nullptr && size >= 1);
        FUZZ_CHECK(limitMs == detail::HUNT_READ_MS || limitMs == detail::LENGTH_READ_MS ||
                   limitMs == detail::BODY_READ_MS);
        // The limit is looked at before every read, so none starts after it.
        FUZZ_CHECK(m_limit > 0 && m_clock.now - m_start < static_cast<std::uint32_t>(m_limit));
        ++reads;
        if (m_next < m_control.size()) return Scripted(m_control[m_next++], buf, size);
        if (Available() == 0) {
            m_clock.now += static_cast<std::uint32_t>(limitMs);
            return 0;
        }
        return Hand(buf, size, size);
    }

    std::size_t consumed = 0;
    int reads = 0;

private:
    std::size_t Available() const { return m_stream.size() - consumed; }

    int Scripted(std::uint8_t step, std::uint8_t* buf, int size) {
        if (step == READ_ERROR) return -1;
        if (step < NOTHING_BELOW) {
            m_clock.now += step * MS_PER_NOTHING_STEP;
            return 0;
        }
        return Hand(buf, size, (step & PIECE_MASK) + 1);
    }

    int Hand(std::uint8_t* buf, int size, int most) {
        m_clock.now += 1;
        std::size_t n = std::min<std::size_t>(Available(), static_cast<std::size_t>(std::min(size, most)));
        std::copy(m_stream.begin() + static_cast<std::ptrdiff_t>(consumed),
                  m_stream.begin() + static_cast<std::ptrdiff_t>(consumed + n), buf);
        consumed += n;
        return static_cast<int>(n);
    }

    ScriptedClock& m_clock;
    const Bytes& m_stream;
    const Bytes& m_control;
    std::size_t m_next = 0;
    std::uint32_t m_start;
    int m_limit;
};

// Index of the first byte of the first EB 90 in the stream, or the size.
std::size_t FirstHead(const Bytes& s) {
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == frame::HEAD0 && s[i + 1] == frame::HEAD1) return i;
    }
    return s.size();
}

Bytes Slice(qx480::fuzz::Input& in, std::size_t count) {
    std::size_t taken;
    const std::uint8_t* p = in.Take(count, taken);
    return Bytes(p, p + taken);
}

void CheckResult(bool ok, const Bytes& stream, const ScriptedSource& source, const Bytes& shown, int shownCount,
                 const QX480Frame& out) {
    FUZZ_CHECK(shownCount <= 1);
    FUZZ_CHECK(source.consumed <= stream.size());
    const std::size_t head = FirstHead(stream);
    const bool lengthSeen = head + frame::LEN_TO_FRAME <= stream.size() && source.consumed > head + 2;
    FUZZ_CHECK(lengthSeen || shownCount == 0);
    if (lengthSeen) {
        const int len = qx480::GetU16(stream.data() + head + frame::LEN_OFFSET);
        const std::size_t frameEnd = head + static_cast<std::size_t>(len) + frame::LEN_TO_FRAME;
        // Never a byte beyond the frame, nor beyond the length field of a too-short one.
        FUZZ_CHECK(source.consumed <= (len < frame::MIN_LEN ? head + frame::LEN_TO_FRAME : frameEnd));
        if (shownCount == 1) {
            FUZZ_CHECK(source.consumed == frameEnd);
            FUZZ_CHECK(shown == Bytes(stream.begin() + static_cast<std::ptrdiff_t>(head),
                                      stream.begin() + static_cast<std::ptrdiff_t>(frameEnd)));
        }
    }
    if (shownCount == 0) {
        FUZZ_CHECK(!ok && !out.valid);
        // Untouched apart from valid: the values set before the call are still there.
        FUZZ_CHECK(out.cmd == 0x55 && out.opt == 0x1234 && out.pa == Bytes({9, 9, 9}));
        return;
    }
    QX480Frame expected;
    FUZZ_CHECK(qx480::ParseFrame(shown.data(), static_cast<int>(shown.size()), expected) == ok);
    FUZZ_CHECK(out.valid == ok && out.cmd == expected.cmd && out.opt == expected.opt && out.pa == expected.pa);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qx480::fuzz::Input in(data, size);
    const int limit = static_cast<int>(in.U16()) - LIMIT_BIAS;
    ScriptedClock clock{in.U32()};
    const std::uint32_t start = clock.now;
    const std::size_t streamLen = in.U16() % (in.Remaining() + 1);
    const Bytes stream = Slice(in, streamLen);
    const Bytes control = Slice(in, in.Remaining());

    ScriptedSource source(clock, stream, control, start, limit);
    Bytes shown;
    int shownCount = 0;
    const auto onFrame = [&](const std::uint8_t* f, std::size_t n) {
        shown.assign(f, f + n);
        ++shownCount;
    };
    QX480Frame out{true, 0x55, 0x1234, {9, 9, 9}};
    const bool ok = detail::ReceiveFrame(source, clock, out, limit, onFrame);

    if (limit <= 0) FUZZ_CHECK(!ok && source.reads == 0);
    CheckResult(ok, stream, source, shown, shownCount, out);
    return 0;
}

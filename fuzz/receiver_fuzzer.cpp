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
// read asks for what the phase needs and no more, every byte read is either
// dropped or part of the one frame taken (valid, with the request's code,
// and never read past), and the record is left as the contract says.
#include <utility>
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
// The request's code: frames of other codes are dropped and the hunt goes on.
constexpr std::uint8_t EXPECTED_CMD = 0x93;

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

bool StartsWithHead(const Bytes& b) { return b.size() >= 2 && b[0] == frame::HEAD0 && b[1] == frame::HEAD1; }

bool HoldsHead(const Bytes& b) {
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] == frame::HEAD0 && b[i + 1] == frame::HEAD1) return true;
    }
    return false;
}

Bytes Slice(qx480::fuzz::Input& in, std::size_t count) {
    std::size_t taken;
    const std::uint8_t* p = in.Take(count, taken);
    return Bytes(p, p + taken);
}

// What the receiver showed its observer: the answer taken (true) and each
// piece dropped (false), in order.
using Shown = std::vector<std::pair<bool, Bytes>>;

// Every byte read is shown exactly once, in order: stray bytes (never holding
// a head, and followed only by a frame), dropped frames, and at most one
// taken frame, which comes last and carries the expected command code.
void CheckShown(const Shown& shown, const Bytes& stream, const ScriptedSource& source) {
    Bytes all;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto& [taken, bytes] = shown[i];
        all.insert(all.end(), bytes.begin(), bytes.end());
        FUZZ_CHECK(!taken || i + 1 == shown.size());
        QX480Frame parsed;
        const bool valid = qx480::ParseFrame(bytes.data(), static_cast<int>(bytes.size()), parsed);
        FUZZ_CHECK(taken == (valid && parsed.cmd == EXPECTED_CMD));
        if (!StartsWithHead(bytes)) {
            FUZZ_CHECK(!HoldsHead(bytes));
            FUZZ_CHECK(i + 1 == shown.size() || StartsWithHead(shown[i + 1].second));
        }
    }
    FUZZ_CHECK(source.consumed <= stream.size());
    FUZZ_CHECK(all == Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(source.consumed)));
}

void CheckRecord(QX480Status status, const Shown& shown, const QX480Frame& out) {
    const bool untouched = out.cmd == 0x55 && out.opt == 0x1234 && out.pa == Bytes({9, 9, 9});
    const bool taken = !shown.empty() && shown.back().first;
    FUZZ_CHECK((status == QX480Status::Accepted) == taken);
    FUZZ_CHECK(out.valid == taken);
    if (taken) {
        QX480Frame expected;
        qx480::ParseFrame(shown.back().second.data(), static_cast<int>(shown.back().second.size()), expected);
        FUZZ_CHECK(out.cmd == expected.cmd && out.opt == expected.opt && out.pa == expected.pa);
    } else if (status == QX480Status::CorruptAnswer) {
        // Reset by the parser when a whole frame failed it, else untouched.
        FUZZ_CHECK(untouched || (out.cmd == 0 && out.opt == 0 && out.pa.empty()));
    } else {
        FUZZ_CHECK(status == QX480Status::NoAnswer || status == QX480Status::PortFailed);
        FUZZ_CHECK(untouched);
    }
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
    Shown shown;
    const auto observe = [&](bool taken, const std::uint8_t* f, std::size_t n) {
        shown.emplace_back(taken, Bytes(f, f + n));
    };
    QX480Frame out{true, 0x55, 0x1234, {9, 9, 9}};
    const QX480Status status = detail::ReceiveFrame(source, clock, out, EXPECTED_CMD, limit, observe);

    if (limit <= 0) FUZZ_CHECK(status == QX480Status::NoAnswer && source.reads == 0);
    CheckShown(shown, stream, source);
    CheckRecord(status, shown, out);
    return 0;
}

// Build-then-parse round trips of fuzzed commands, option words and parameter
// blocks: every frame the builders make parses back to the same fields, with
// or without bytes behind it, and any one changed byte outside the length
// field makes the parser reject it.
//
// Input: one selector byte, then what the chosen case takes.
#include <cmath>
#include <cstring>
#include <vector>

#include "commands.h"
#include "frame.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qx480::fuzz::Input;
namespace frame = qx480::frame;
namespace units = qx480::units;
namespace timing = qx480::timing;

Bytes Slice(Input& in, std::size_t count) {
    std::size_t taken;
    const std::uint8_t* p = in.Take(count, taken);
    return Bytes(p, p + taken);
}

std::uint64_t LittleEndian(const std::uint8_t* p, int size) {
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

QX480Frame Parse(const Bytes& bytes) {
    QX480Frame f;
    qx480::ParseFrame(bytes.data(), static_cast<int>(bytes.size()), f);
    return f;
}

void CheckParsesBack(const Bytes& built, std::uint8_t cmd, std::uint16_t opt, const Bytes& pa) {
    const QX480Frame f = Parse(built);
    FUZZ_CHECK(f.valid && f.cmd == cmd && f.opt == opt && f.pa == pa);
}

// Adding a nonzero value to one byte changes the 16-bit sum, the head, the
// tail or the stored checksum; only a changed length field may by chance
// point at another valid-looking frame, so it is left out.
void CheckOneChangedByteIsRejected(Bytes built, Input& in) {
    const std::size_t at = in.U16() % built.size();
    const std::uint8_t delta = static_cast<std::uint8_t>(in.Byte() | 1);
    if (at == frame::LEN_OFFSET || at == frame::LEN_OFFSET + 1) return;
    built[at] = static_cast<std::uint8_t>(built[at] + delta);
    FUZZ_CHECK(!Parse(built).valid);
}

void CheckRoundTrip(const Bytes& built, std::uint8_t cmd, std::uint16_t opt, const Bytes& pa, Input& in) {
    FUZZ_CHECK(built.size() == pa.size() + frame::OVERHEAD);
    CheckParsesBack(built, cmd, opt, pa);
    Bytes followed = built;
    const Bytes tail = Slice(in, in.Byte());
    followed.insert(followed.end(), tail.begin(), tail.end());
    CheckParsesBack(followed, cmd, opt, pa);
    CheckOneChangedByteIsRejected(built, in);
}

// A vector that held something before, as a caller reusing one would pass it.
Bytes UsedVector(Input& in) { return Bytes(in.Byte() * 3u, 0xA5); }

void RawFrame(Input& in) {
    const std::uint8_t cmd = in.Byte();
    const std::uint16_t opt = in.U16();
    const Bytes pa = Slice(in, in.U16());
    Bytes out = UsedVector(in);
    qx480::BuildFrame(cmd, opt, pa.empty() ? nullptr : pa.data(), static_cast<int>(pa.size()), out);
    CheckRoundTrip(out, cmd, opt, pa, in);

    // Outside the contract the vector is emptied and the PA pointer not read.
    Bytes refused = UsedVector(in);
    qx480::BuildFrame(cmd, opt, nullptr, -1 - static_cast<int>(in.U16()), refused);
    FUZZ_CHECK(refused.empty());
}

void WordFrame(Input& in) {
    const std::uint8_t cmd = in.Byte();
    const std::uint16_t opt = in.U16();
    std::vector<std::uint32_t> words(in.Byte());
    for (std::uint32_t& w : words) w = in.U32();
    Bytes out = UsedVector(in);
    qx480::BuildFrameU32(cmd, opt, words, out);

    Bytes pa(words.size() * 4);
    for (std::size_t i = 0; i < words.size(); ++i) qx480::PutU32(&pa[i * 4], words[i]);
    CheckRoundTrip(out, cmd, opt, pa, in);
    const QX480Frame f = Parse(out);
    for (std::size_t i = 0; i < words.size(); ++i) FUZZ_CHECK(f.ReadU32(static_cast<int>(i * 4)) == words[i]);
}

void CheckOptionRequest(QX480Command command, std::uint16_t opt, Input& in) {
    Bytes out;
    qx480::BuildFrame(qx480::CommandCode(command), opt, nullptr, 0, out);
    CheckRoundTrip(out, qx480::CommandCode(command), opt, {}, in);
}

void TriggerAndChannelOptions(Input& in) {
    const auto mode = static_cast<QX480TriggerMode>(static_cast<int>(in.U32()));
    const std::uint16_t triggerOpt = TriggerModeOpt(mode);
    FUZZ_CHECK(triggerOpt >= 1 && triggerOpt <= 3);
    CheckOptionRequest(QX480Command::SET_TRIGGER, triggerOpt, in);

    const int channel = static_cast<int>(in.U32());
    const bool on = in.Bool();
    const std::uint16_t channelOpt = ChannelOpt(channel, on);
    FUZZ_CHECK((channelOpt & 0xFF) == (on ? 1u : 0u));
    FUZZ_CHECK((channelOpt >> 8) == (static_cast<unsigned>(channel) & 0xFF));
    CheckOptionRequest(QX480Command::SET_CHANNEL, channelOpt, in);
}

void TimeRequest(Input& in) {
    const auto ns = static_cast<std::int64_t>(in.U64());
    std::uint64_t count = 0;
    const bool ok = units::TimeToWire(ns, count);
    FUZZ_CHECK(ok == (ns >= 0 && ns <= units::MAX_TIME_NS));
    if (!ok) return;
    FUZZ_CHECK(count % units::COUNTS_PER_NS == 0 && units::WireToTime(count) == ns);

    const auto channel = static_cast<std::uint16_t>(in.Byte() % 8 + 1);
    Bytes out;
    qx480::BuildFrameU32(qx480::CommandCode(QX480Command::SET_DELAY), channel,
                         {static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(count >> 32)}, out);
    Bytes pa(8);
    qx480::PutU64(pa.data(), count);
    CheckRoundTrip(out, qx480::CommandCode(QX480Command::SET_DELAY), channel, pa, in);
    FUZZ_CHECK(Parse(out).ReadU64(0) == count);
}

// The period is truncated, so the rate it stands for is the one asked for or
// a little above, and one tick more would be below it.
void CheckTicksFitRate(double hz, std::uint32_t ticks) {
    constexpr double slack = 1e-9;
    const double perTick = units::NS_PER_SECOND / units::NS_PER_TICK;
    if (ticks == 0) {
        FUZZ_CHECK(hz >= perTick * (1 - slack));
        return;
    }
    FUZZ_CHECK(units::WireToFrequency(ticks) >= hz * (1 - slack));
    FUZZ_CHECK(perTick / (static_cast<double>(ticks) + 1) <= hz * (1 + slack));
}

void FrequencyRequest(Input& in) {
    const std::uint64_t bits = in.U64();
    double hz;
    std::memcpy(&hz, &bits, sizeof hz);
    std::uint32_t ticks = 0;
    if (!units::FrequencyToWire(hz, ticks)) {
        const double slowest = units::NS_PER_SECOND / units::NS_PER_TICK / static_cast<double>(UINT32_MAX);
        FUZZ_CHECK(std::isnan(hz) || hz <= 0 || hz < slowest * (1 + 1e-9));
        return;
    }
    FUZZ_CHECK(hz > 0);
    CheckTicksFitRate(hz, ticks);
    Bytes out;
    qx480::BuildFrameU32(qx480::CommandCode(QX480Command::SET_TRIG_FREQ), qx480::option::NONE, {ticks}, out);
    Bytes pa(4);
    qx480::PutU32(pa.data(), ticks);
    CheckRoundTrip(out, qx480::CommandCode(QX480Command::SET_TRIG_FREQ), qx480::option::NONE, pa, in);
}

void WriteResponse(Input& in) {
    const std::uint8_t cmd = in.Byte();
    const std::uint16_t opt = in.U16();
    Bytes out;
    qx480::BuildFrame(cmd, opt, nullptr, 0, out);
    const QX480Frame f = Parse(out);
    FUZZ_CHECK(IsWriteSuccess(f) == ((opt & 0xFF) == qx480::option::RESPONSE_OK));
    out.back() = static_cast<std::uint8_t>(~frame::TAIL);
    FUZZ_CHECK(!IsWriteSuccess(Parse(out)));
}

void TimingResponse(Input& in) {
    Bytes block = Slice(in, timing::BLOCK_SIZE);
    block.resize(timing::BLOCK_SIZE);
    Bytes out = UsedVector(in);
    const std::uint8_t cmd = qx480::CommandCode(QX480Command::READ_TIMING);
    qx480::BuildFrame(cmd, qx480::option::TIMING_RESPONSE, block.data(), timing::BLOCK_SIZE, out);
    CheckRoundTrip(out, cmd, qx480::option::TIMING_RESPONSE, block, in);

    const QX480Frame f = Parse(out);
    for (int channel = 1; channel <= 8; ++channel) {
        for (int array : {timing::DELAY, timing::WIDTH, timing::TIME140, timing::TIME204}) {
            const int at = timing::ChannelEntry(array, channel);
            FUZZ_CHECK(f.ReadU64(at) == LittleEndian(&block[static_cast<std::size_t>(at)], 8));
        }
    }
    FUZZ_CHECK(f.ReadU32(timing::TRIGGER_TICKS) == LittleEndian(&block[timing::TRIGGER_TICKS], 4));
    const float value = f.ReadFloat(timing::FLOAT276);
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    FUZZ_CHECK(bits == LittleEndian(&block[timing::FLOAT276], 4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    switch (in.Byte() % 7) {
        case 0: RawFrame(in); break;
        case 1: WordFrame(in); break;
        case 2: TriggerAndChannelOptions(in); break;
        case 3: TimeRequest(in); break;
        case 4: FrequencyRequest(in); break;
        case 5: WriteResponse(in); break;
        default: TimingResponse(in); break;
    }
    return 0;
}

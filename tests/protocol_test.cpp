// The frame codec, the readers, the option encodings and the unit conversions
// at the edges where a plausible mistake would change bytes on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "commands.h"
#include "frame.h"
#include "frames.h"
#include "golden_frames.h"

namespace {

using qx480::test::Bytes;
using qx480::test::FrameOf;
using qx480::test::Parsed;
namespace golden = qx480::test::golden;

QX480Frame WithPa(const Bytes& pa) {
    QX480Frame f{};
    f.pa = pa;
    return f;
}

const Bytes& kSetTriggerOk = golden::SET_TRIGGER_ACCEPTED.bytes;

TEST(Checksum, IsTheLow16BitsOfThePlainByteSum) {
    EXPECT_EQ(qx480::Checksum(nullptr, 0), 0);
    EXPECT_EQ(qx480::Checksum(nullptr, -5), 0);
    const Bytes ff(300, 0xFF);
    EXPECT_EQ(qx480::Checksum(ff.data(), 300), 10964);  // 76500 mod 65536, neither saturated nor wider
    const Bytes head{0xEB, 0x90, 0x06, 0x00, 0x93, 0x00, 0x00};
    EXPECT_EQ(qx480::Checksum(head.data(), 7), 532);
}

TEST(BuildFrame, NullAndEmptyParameterBlocksGiveTheSameTenByteFrame) {
    const std::uint8_t dummy = 0x55;
    Bytes a, b;
    qx480::BuildFrame(0x93, 0, nullptr, 0, a);
    qx480::BuildFrame(0x93, 0, &dummy, 0, b);
    EXPECT_EQ(a, golden::READ_TEMP.bytes);
    EXPECT_EQ(a, b);
}

TEST(BuildFrame, OverwritesWhateverTheVectorHeldBefore) {
    Bytes out(500, 0x77);
    qx480::BuildFrame(0x01, 3, nullptr, 0, out);
    EXPECT_EQ(out, golden::SET_TRIGGER_SOFTWARE.bytes);
    Bytes shorter(3, 0x77);
    qx480::BuildFrame(0x01, 3, nullptr, 0, shorter);
    EXPECT_EQ(shorter, out);
}

TEST(BuildFrame, CopiesHeadAndTailBytesInsideTheParameterBlockUnchanged) {
    const Bytes pa{0xEB, 0x90, 0xCC, 0x00};
    const Bytes f = FrameOf(0x05, 0x1234, pa);
    ASSERT_EQ(f.size(), pa.size() + 10);
    EXPECT_EQ(Bytes(f.begin() + 7, f.begin() + 11), pa);
    EXPECT_EQ(f[5], 0x34);  // option low byte first
    EXPECT_EQ(f[6], 0x12);
    const QX480Frame parsed = Parsed(f);
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.pa, pa);
}

TEST(BuildFrame, LargestParameterBlockFillsTheLengthField) {
    const Bytes pa(qx480::frame::MAX_PA, 0xA5);
    const Bytes f = FrameOf(0xC1, 0, pa);
    ASSERT_EQ(f.size(), 65539u);
    EXPECT_EQ(f[2], 0xFF);
    EXPECT_EQ(f[3], 0xFF);
    EXPECT_EQ(f.back(), qx480::frame::TAIL);
    const QX480Frame parsed = Parsed(f);
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.pa.size(), pa.size());
}

TEST(BuildFrame, RefusesInputOutsideItsContractWithAnEmptyVector) {
    const Bytes big(qx480::frame::MAX_PA + 1, 0);
    Bytes out(20, 0x11);
    qx480::BuildFrame(0x08, 1, big.data(), qx480::frame::MAX_PA + 1, out);
    EXPECT_TRUE(out.empty());
    out.assign(20, 0x11);
    qx480::BuildFrame(0x08, 1, big.data(), -1, out);
    EXPECT_TRUE(out.empty());
    out.assign(20, 0x11);
    qx480::BuildFrame(0x08, 1, nullptr, 4, out);
    EXPECT_TRUE(out.empty());
}

TEST(BuildFrameU32, LaysWordsOutLittleEndianInListOrder) {
    Bytes out;
    qx480::BuildFrameU32(0x08, 1, {1000, 0}, out);
    EXPECT_EQ(out, golden::SET_DELAY_1_10NS.bytes);
    qx480::BuildFrameU32(0x05, 0, {0x11223344, 0xAABBCCDD}, out);
    const QX480Frame parsed = Parsed(out);
    EXPECT_EQ(parsed.ReadU32(0), 0x11223344u);
    EXPECT_EQ(parsed.ReadU32(4), 0xAABBCCDDu);
}

TEST(BuildFrameU32, EmptyListEqualsNoParameterBlock) {
    Bytes fromWords, fromBytes;
    qx480::BuildFrameU32(0x14, 0, {}, fromWords);
    qx480::BuildFrame(0x14, 0, nullptr, 0, fromBytes);
    EXPECT_EQ(fromWords, fromBytes);
}

TEST(BuildFrameU32, HonoursTheWordLimit) {
    Bytes out;
    qx480::BuildFrameU32(0x01, 0, std::vector<std::uint32_t>(qx480::frame::MAX_WORDS, 7), out);
    EXPECT_EQ(out.size(), static_cast<std::size_t>(qx480::frame::MAX_WORDS) * 4 + 10);
    qx480::BuildFrameU32(0x01, 0, std::vector<std::uint32_t>(qx480::frame::MAX_WORDS + 1, 7), out);
    EXPECT_TRUE(out.empty());
}

TEST(DumpFrame, PrintsOneLineOrNothingForAnEmptyFrame) {
    testing::internal::CaptureStdout();
    qx480::DumpFrame({}, "label");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    qx480::DumpFrame({0xEB, 0x0A}, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "EB 0A (2 bytes)\n");
    testing::internal::CaptureStdout();
    qx480::DumpFrame({0x01}, "TX");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TX: 01 (1 bytes)\n");
}

TEST(ParseFrame, AcceptsAFrameFollowedByFurtherBytesAndIgnoresThem) {
    Bytes in = kSetTriggerOk;
    in.insert(in.end(), {0xEB, 0x90, 0xFF});
    const QX480Frame f = Parsed(in);
    EXPECT_TRUE(f.valid);
    EXPECT_EQ(f.cmd, 0x01);
    EXPECT_EQ(f.opt, 1);
    EXPECT_TRUE(f.pa.empty());
}

TEST(ParseFrame, RejectsEveryMalformedInput) {
    const auto rejected = [](Bytes in) { return !Parsed(in).valid; };
    for (std::size_t n = 0; n < kSetTriggerOk.size(); ++n)
        EXPECT_TRUE(rejected(Bytes(kSetTriggerOk.begin(), kSetTriggerOk.begin() + n))) << "truncated to " << n;
    Bytes bad = kSetTriggerOk;
    bad[1] = 0x91;
    EXPECT_TRUE(rejected(bad)) << "second head byte";
    bad = kSetTriggerOk;
    bad[2] = 5;
    EXPECT_TRUE(rejected(bad)) << "length below 6";
    bad = kSetTriggerOk;
    bad[7] ^= 1;
    EXPECT_TRUE(rejected(bad)) << "checksum";
    bad = kSetTriggerOk;
    bad[9] = 0xCD;
    EXPECT_TRUE(rejected(bad)) << "tail";
    bad = kSetTriggerOk;
    bad[2] = 0xFF;
    bad[3] = 0xFF;
    EXPECT_TRUE(rejected(bad)) << "length beyond the input";
}

TEST(ParseFrame, RejectionResetsARecordThatHeldAFrame) {
    QX480Frame f;
    ASSERT_TRUE(qx480::ParseFrame(kSetTriggerOk.data(), 10, f));
    f.pa = {1, 2, 3};
    EXPECT_FALSE(qx480::ParseFrame(nullptr, 10, f));
    EXPECT_FALSE(f.valid);
    EXPECT_EQ(f.cmd, 0);
    EXPECT_EQ(f.opt, 0);
    EXPECT_TRUE(f.pa.empty());
}

TEST(FrameReaders, ReadLittleEndianAndGiveZeroOutsideTheParameterBytes) {
    const QX480Frame f = WithPa({0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00});
    EXPECT_EQ(f.ReadU32(0), 0x12345678u);
    EXPECT_EQ(f.ReadU32(3), 0x00000112u);
    EXPECT_EQ(f.ReadU32(4), 0u) << "only three bytes left";
    EXPECT_EQ(f.ReadU32(-1), 0u);
    EXPECT_EQ(f.ReadU32(std::numeric_limits<int>::max()), 0u);
    EXPECT_EQ(f.ReadU64(0), 0x12345678u) << "4 to 7 bytes give the low word alone";
    EXPECT_EQ(f.ReadU64(-4), 0u);
    EXPECT_EQ(f.ReadU64(std::numeric_limits<int>::max() - 2), 0u);
    EXPECT_EQ(WithPa({0, 0, 0, 0, 1, 0, 0, 0}).ReadU64(0), 0x100000000ull);
    EXPECT_EQ(f.ReadFloat(5), 0.0f);
}

TEST(FrameReaders, ReadFloatPassesAnyBitPatternThrough) {
    EXPECT_EQ(WithPa({0x00, 0xC0, 0xEC, 0x41}).ReadFloat(0), 29.59375f);
    EXPECT_TRUE(std::isnan(WithPa({0x01, 0x00, 0xC0, 0x7F}).ReadFloat(0)));
    EXPECT_TRUE(std::signbit(WithPa({0x00, 0x00, 0x00, 0x80}).ReadFloat(0)));
}

TEST(OptionWords, EncodeTriggerModesChannelsAndTheSuccessRule) {
    EXPECT_EQ(TriggerModeOpt(QX480TriggerMode::Internal), 1);
    EXPECT_EQ(TriggerModeOpt(QX480TriggerMode::External), 2);
    EXPECT_EQ(TriggerModeOpt(QX480TriggerMode::Software), 3);
    EXPECT_EQ(TriggerModeOpt(static_cast<QX480TriggerMode>(3)), 1);
    EXPECT_EQ(TriggerModeOpt(static_cast<QX480TriggerMode>(-1)), 1);
    EXPECT_EQ(ChannelOpt(1, true), 0x0101);
    EXPECT_EQ(ChannelOpt(8, false), 0x0800);
    EXPECT_EQ(ChannelOpt(8, true), 0x0801);

    QX480Frame r{};
    r.valid = true;
    for (std::uint16_t opt : {0x0001, 0x0101, 0x0201}) {
        r.opt = opt;
        EXPECT_TRUE(IsWriteSuccess(r)) << opt;
    }
    for (std::uint16_t opt : {0x0000, 0x0002, 0x0100}) {
        r.opt = opt;
        EXPECT_FALSE(IsWriteSuccess(r)) << opt;
    }
    r.valid = false;
    r.opt = 1;
    EXPECT_FALSE(IsWriteSuccess(r));
}

TEST(Channels, AreOneToEightAndIndexFromZero) {
    EXPECT_FALSE(qx480::IsChannel(0));
    EXPECT_TRUE(qx480::IsChannel(1));
    EXPECT_TRUE(qx480::IsChannel(8));
    EXPECT_FALSE(qx480::IsChannel(9));
    EXPECT_FALSE(qx480::IsChannel(-1));
    EXPECT_FALSE(qx480::IsChannel(0x0101));
    EXPECT_EQ(qx480::ChannelIndex(1), 0u);
    EXPECT_EQ(qx480::ChannelIndex(qx480::CHANNEL_COUNT), 7u);
}

TEST(TriggerModes, NameEachModeAndReadBackFromNameAndOptionWord) {
    EXPECT_STREQ(qx480::TriggerModeName(QX480TriggerMode::Internal), "internal");
    EXPECT_STREQ(qx480::TriggerModeName(QX480TriggerMode::External), "external");
    EXPECT_STREQ(qx480::TriggerModeName(QX480TriggerMode::Software), "software");
    EXPECT_STREQ(qx480::TriggerModeName(static_cast<QX480TriggerMode>(7)), "internal") << "sent as internal";
    for (const auto& m : qx480::TRIGGER_MODES) {
        QX480TriggerMode byName = static_cast<QX480TriggerMode>(-1);
        ASSERT_TRUE(qx480::TriggerModeByName(m.name, byName)) << m.name;
        EXPECT_EQ(byName, m.mode);
        QX480TriggerMode byOpt = static_cast<QX480TriggerMode>(-1);
        ASSERT_TRUE(qx480::TriggerModeFromOpt(TriggerModeOpt(m.mode), byOpt)) << m.name;
        EXPECT_EQ(byOpt, m.mode);
    }
    QX480TriggerMode untouched = QX480TriggerMode::Software;
    for (const char* word : {"", "Internal", "internal ", "soft", "now"}) {
        EXPECT_FALSE(qx480::TriggerModeByName(word, untouched)) << word;
    }
    for (std::uint16_t opt : {0, 4, 0x0101, 0xFFFF}) EXPECT_FALSE(qx480::TriggerModeFromOpt(opt, untouched)) << opt;
    EXPECT_EQ(untouched, QX480TriggerMode::Software);
}

TEST(Units, TimesConvertExactlyOverTheWholeWireRange) {
    using qx480::units::TimeToWire;
    std::uint64_t count = 123;
    EXPECT_TRUE(TimeToWire(0, count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(TimeToWire(10, count));
    EXPECT_EQ(count, 1000u);
    EXPECT_TRUE(TimeToWire(92233720368547758 + 1, count)) << "past the signed product's range";
    EXPECT_EQ(count, 9223372036854775900ull);
    EXPECT_TRUE(TimeToWire(184467440737095516, count));
    EXPECT_EQ(count, 18446744073709551600ull);
    count = 77;
    EXPECT_FALSE(TimeToWire(184467440737095517, count));
    EXPECT_FALSE(TimeToWire(-1, count));
    EXPECT_FALSE(TimeToWire(std::numeric_limits<std::int64_t>::max(), count));
    EXPECT_EQ(count, 77u) << "a refused time leaves the count alone";

    EXPECT_EQ(qx480::units::WireToTime(199), 1);
    EXPECT_EQ(qx480::units::WireToTime(UINT64_MAX), 184467440737095516);
}

TEST(Units, RatesConvertToFourNanosecondTicks) {
    using qx480::units::FrequencyToWire;
    std::uint32_t ticks = 9;
    EXPECT_TRUE(FrequencyToWire(1000.0, ticks));
    EXPECT_EQ(ticks, 250000u);
    EXPECT_TRUE(FrequencyToWire(300e6, ticks));
    EXPECT_EQ(ticks, 0u);
    ticks = 9;
    EXPECT_TRUE(FrequencyToWire(std::numeric_limits<double>::infinity(), ticks));
    EXPECT_EQ(ticks, 0u);
    EXPECT_TRUE(FrequencyToWire(0.0583, ticks));
    EXPECT_EQ(ticks, static_cast<std::uint32_t>(1e9 / 0.0583 * 0.25));
    ticks = 9;
    EXPECT_FALSE(FrequencyToWire(250e6 / 4294967296.0, ticks)) << "a period of exactly 2^32 ticks";
    EXPECT_FALSE(FrequencyToWire(0.0, ticks));
    EXPECT_FALSE(FrequencyToWire(-1.0, ticks));
    EXPECT_FALSE(FrequencyToWire(std::nan(""), ticks));
    EXPECT_FALSE(FrequencyToWire(-std::numeric_limits<double>::infinity(), ticks));
    EXPECT_EQ(ticks, 9u);

    EXPECT_EQ(qx480::units::WireToFrequency(0), 0.0);
    EXPECT_EQ(qx480::units::WireToFrequency(250000), 1000.0);
}

TEST(TimingBlock, DecodesEveryFieldAtItsOffsetForBothEndChannels) {
    namespace t = qx480::timing;
    QX480Frame r{};
    r.valid = true;
    r.pa.assign(t::BLOCK_SIZE + 52, 0);
    qx480::PutU64(&r.pa[t::ChannelEntry(t::DELAY, 1)], 199);
    qx480::PutU64(&r.pa[t::ChannelEntry(t::WIDTH, 8)], UINT64_MAX);
    qx480::PutU64(&r.pa[t::ChannelEntry(t::TIME140, 8)], 56);  // block offset 196
    qx480::PutU64(&r.pa[t::ChannelEntry(t::TIME204, 8)], 60);  // block offset 260
    qx480::PutU32(&r.pa[t::TRIGGER_TICKS], 250000);
    r.pa[128] = 0x34;
    r.pa[129] = 0x12;
    r.pa[130] = 1;
    r.pa[131] = 0xFF;
    r.pa[136] = 2;
    r.pa[137] = 3;
    r.pa[138] = 0xEF;
    r.pa[139] = 0xBE;
    qx480::PutU32(&r.pa[t::FLOAT276], 0x41ECC000);

    t::Block b;
    ASSERT_TRUE(t::Decode(r, b));
    EXPECT_EQ(b.channels[0].delay, 199u);
    EXPECT_EQ(b.channels[7].width, UINT64_MAX);
    EXPECT_EQ(b.channels[7].time140, 56u);
    EXPECT_EQ(b.channels[7].time204, 60u);
    EXPECT_EQ(b.channels[7].delay, 0u);
    EXPECT_EQ(b.triggerTicks, 250000u);
    EXPECT_EQ(b.word128, 0x1234);
    EXPECT_EQ(b.byte130, 1);
    EXPECT_EQ(b.byte131, 0xFF);
    EXPECT_EQ(b.byte136, 2);
    EXPECT_EQ(b.byte137, 3);
    EXPECT_EQ(b.word138, 0xBEEF);
    EXPECT_EQ(b.float276, 29.59375f);
}

TEST(TimingBlock, EncodeIsTheInverseOfDecode) {
    qx480::timing::Block b;
    for (std::size_t i = 0; i < b.channels.size(); ++i) b.channels[i] = {i + 1, i + 11, i + 21, UINT64_MAX - i};
    b.triggerTicks = 0xCAFEBABE;
    b.word128 = 1;
    b.byte130 = 2;
    b.byte131 = 3;
    b.byte136 = 4;
    b.byte137 = 5;
    b.word138 = 6;
    b.float276 = -2.5f;
    QX480Frame r{};
    r.valid = true;
    r.pa = qx480::timing::Encode(b);
    ASSERT_EQ(r.pa.size(), static_cast<std::size_t>(qx480::timing::BLOCK_SIZE));
    EXPECT_TRUE(std::all_of(r.pa.begin() + 268, r.pa.begin() + 276, [](std::uint8_t x) { return x == 0; }));
    qx480::timing::Block back;
    ASSERT_TRUE(qx480::timing::Decode(r, back));
    for (std::size_t i = 0; i < b.channels.size(); ++i) {
        EXPECT_EQ(back.channels[i].delay, b.channels[i].delay);
        EXPECT_EQ(back.channels[i].width, b.channels[i].width);
        EXPECT_EQ(back.channels[i].time140, b.channels[i].time140);
        EXPECT_EQ(back.channels[i].time204, b.channels[i].time204);
    }
    EXPECT_EQ(back.triggerTicks, b.triggerTicks);
    EXPECT_EQ(back.word128, 1);
    EXPECT_EQ(back.byte130, 2);
    EXPECT_EQ(back.byte131, 3);
    EXPECT_EQ(back.byte136, 4);
    EXPECT_EQ(back.byte137, 5);
    EXPECT_EQ(back.word138, 6);
    EXPECT_EQ(back.float276, -2.5f);
}

// Each field's bytes, from its offset and its type's size; a per-channel field has eight entries.
struct FieldSpan {
    std::string name;
    int from;
    int to;  // one past the last byte
};

std::vector<FieldSpan> FieldSpans() {
    namespace t = qx480::timing;
    std::vector<FieldSpan> spans;
    for (const t::DeviceField& f : t::DEVICE_FIELDS) {
        const int size = std::visit([](auto member) { return int(sizeof(t::Block{}.*member)); }, f.member);
        spans.push_back({f.name, f.offset, f.offset + size});
    }
    for (const t::ChannelField& f : t::CHANNEL_FIELDS) {
        spans.push_back({f.name, f.offset, t::ChannelEntry(f.offset, qx480::CHANNEL_COUNT) + t::ENTRY_SIZE});
    }
    std::sort(spans.begin(), spans.end(), [](const FieldSpan& a, const FieldSpan& b) { return a.from < b.from; });
    return spans;
}

TEST(TimingBlock, FieldTablesLayTheFieldsOutWithoutOverlapInsideTheBlock) {
    const std::vector<FieldSpan> spans = FieldSpans();
    ASSERT_EQ(spans.size(), 12u);
    EXPECT_EQ(spans.front().from, 0);
    for (std::size_t i = 0; i + 1 < spans.size(); ++i) {
        EXPECT_LE(spans[i].to, spans[i + 1].from) << spans[i].name << " overlaps " << spans[i + 1].name;
        EXPECT_NE(spans[i].name, spans[i + 1].name);
    }
    EXPECT_LE(spans.back().to, qx480::timing::BLOCK_SIZE);
    const std::pair<const char*, int> known[] = {
        {"delay", 0},     {"width", 64},    {"word128", 128}, {"byte130", 130}, {"byte131", 131}, {"triggerTicks", 132},
        {"byte136", 136}, {"byte137", 137}, {"word138", 138}, {"time140", 140}, {"time204", 204}, {"float276", 276}};
    for (std::size_t i = 0; i < spans.size(); ++i) {
        EXPECT_EQ(spans[i].name, known[i].first);
        EXPECT_EQ(spans[i].from, known[i].second) << spans[i].name;
    }
}

// The fields commands set are the ones the driver writes; the rest only the device knows.
TEST(TimingBlock, FieldTablesMarkWhatTheCommandsSet) {
    std::vector<std::string> set;
    for (const auto& f : qx480::timing::DEVICE_FIELDS) {
        if (f.setByCommand) set.push_back(f.name);
    }
    for (const auto& f : qx480::timing::CHANNEL_FIELDS) {
        if (f.setByCommand) set.push_back(f.name);
    }
    EXPECT_EQ(set, (std::vector<std::string>{"triggerTicks", "delay", "width"}));
}

TEST(TimingBlock, EncodePutsEachFieldOnlyWithinItsOwnBytes) {
    qx480::timing::Block b;
    for (auto& c : b.channels) c = {UINT64_MAX, UINT64_MAX, UINT64_MAX, UINT64_MAX};
    b.triggerTicks = UINT32_MAX;
    b.word128 = 0xFFFF;
    b.byte130 = b.byte131 = b.byte136 = b.byte137 = 0xFF;
    b.word138 = 0xFFFF;
    b.float276 = -std::numeric_limits<float>::quiet_NaN();
    const Bytes bytes = qx480::timing::Encode(b);
    std::vector<bool> inField(bytes.size(), false);
    for (const FieldSpan& span : FieldSpans()) std::fill(inField.begin() + span.from, inField.begin() + span.to, true);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!inField[i]) {
            EXPECT_EQ(bytes[i], 0) << "byte " << i << " lies in no field";
        }
    }
    EXPECT_EQ(bytes[128], 0xFF);
    EXPECT_EQ(bytes[267], 0xFF);
}

TEST(TimingBlock, RefusesAShortOrInvalidResponseAndLeavesTheBlockAlone) {
    QX480Frame r{};
    r.valid = true;
    r.pa.assign(qx480::timing::BLOCK_SIZE - 1, 0xFF);
    qx480::timing::Block b;
    b.triggerTicks = 77;
    EXPECT_FALSE(qx480::timing::Decode(r, b));
    r.pa.push_back(0xFF);
    r.valid = false;
    EXPECT_FALSE(qx480::timing::Decode(r, b));
    EXPECT_EQ(b.triggerTicks, 77u);
}

}  // namespace

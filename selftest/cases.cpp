#include "cases.h"

#include <cstdint>
#include <vector>

#include "check.h"
#include "commands.h"
#include "frame.h"
#include "qx480ddg.h"

// U+2192 RIGHTWARDS ARROW in UTF-8, for the messages that name a mapping.
#define ARROW "\xE2\x86\x92"

namespace qx480 {
namespace selftest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint32_t>;

int Size(const Bytes& bytes) { return static_cast<int>(bytes.size()); }

std::uint8_t Code(QX480Command command) { return CommandCode(command); }

Bytes BuildWithoutPa(QX480Command command, std::uint16_t opt) {
    Bytes frame;
    QX480DDG::BuildFrame(Code(command), opt, nullptr, 0, frame);
    return frame;
}

Bytes BuildFromWords(QX480Command command, std::uint16_t opt, const Words& words) {
    Bytes frame;
    QX480DDG::BuildFrameU32(Code(command), opt, words, frame);
    return frame;
}

bool Parse(const Bytes& bytes, QX480Frame& frame) { return QX480DDG::ParseFrame(bytes.data(), Size(bytes), frame); }

bool ParseHex(const char* hex, QX480Frame& frame) { return Parse(HexToBytes(hex), frame); }

bool IsAbout29Point5(float celsius) { return celsius > 29.0f && celsius < 30.0f; }

// ---- Checksum group ----

std::uint16_t ChecksumOfHex(const char* hex) {
    const Bytes bytes = HexToBytes(hex);
    return QX480DDG::Checksum(bytes.data(), Size(bytes));
}

void TestChecksum_ReadTemp() { CHECK_EQ(ChecksumOfHex("EB 90 06 00 93 00 00"), 532, "READ_TEMP checksum"); }

void TestChecksum_SoftwareTrig() { CHECK_EQ(ChecksumOfHex("EB 90 06 00 14 00 00"), 405, "SOFTWARE_TRIG checksum"); }

void TestChecksum_SetTrigFreq() {
    CHECK_EQ(ChecksumOfHex("EB 90 0A 00 05 00 00 90 D0 03 00"), 749, "SET_TRIG_FREQ checksum");
}

void TestChecksum_Empty() { CHECK_EQ(QX480DDG::Checksum(nullptr, 0), 0, "Empty checksum"); }

void TestChecksum_Overflow() {
    // 300 * 0xFF = 76500, which keeps 10964 in 16 bits.
    const Bytes bytes(300, 0xFF);
    CHECK_EQ(QX480DDG::Checksum(bytes.data(), Size(bytes)), 10964, "Overflow checksum low 16 bits");
}

// ---- Frame-building group ----

void TestBuildFrame_ReadTemp() {
    CHECK_BYTES(BuildWithoutPa(QX480Command::READ_TEMP, 0), HexToBytes("EB 90 06 00 93 00 00 14 02 CC"),
                "READ_TEMP frame");
}

void TestBuildFrame_ReadTiming() {
    CHECK_BYTES(BuildWithoutPa(QX480Command::READ_TIMING, 0), HexToBytes("EB 90 06 00 C1 00 00 42 02 CC"),
                "READ_TIMING frame");
}

void TestBuildFrame_SetTriggerSoftware() {
    CHECK_BYTES(BuildWithoutPa(QX480Command::SET_TRIGGER, 3), HexToBytes("EB 90 06 00 01 03 00 85 01 CC"),
                "SET_TRIGGER(Software) frame");
}

void TestBuildFrame_SetChannelOn() {
    CHECK_BYTES(BuildWithoutPa(QX480Command::SET_CHANNEL, 0x0101), HexToBytes("EB 90 06 00 06 01 01 89 01 CC"),
                "SET_CHANNEL(ch1,on) frame");
}

void TestBuildFrame_SetGlobalOutput() {
    CHECK_BYTES(BuildWithoutPa(QX480Command::SET_GLOBAL_OUTPUT, 1), HexToBytes("EB 90 06 00 07 01 00 89 01 CC"),
                "SET_GLOBAL_OUTPUT(enable) frame");
}

void TestBuildFrame_SoftwareTrig() {
    CHECK_BYTES(BuildWithoutPa(QX480Command::SOFTWARE_TRIG, 0), HexToBytes("EB 90 06 00 14 00 00 95 01 CC"),
                "SOFTWARE_TRIG frame");
}

// ---- Word-list group ----

void TestBuildFrameU32_SetTrigFreq() {
    // 250000 ticks of 4 ns: 1 kHz.
    CHECK_BYTES(BuildFromWords(QX480Command::SET_TRIG_FREQ, 0, {250000}),
                HexToBytes("EB 90 0A 00 05 00 00 90 D0 03 00 ED 02 CC"), "SET_TRIG_FREQ(1kHz) frame");
}

void TestBuildFrameU32_SetDelay() {
    // 10 ns is 1000 counts of 10 ps, a 64-bit value sent low word first.
    CHECK_BYTES(BuildFromWords(QX480Command::SET_DELAY, 1, {1000, 0}),
                HexToBytes("EB 90 0E 00 08 01 00 E8 03 00 00 00 00 00 00 7D 02 CC"), "SET_DELAY(ch1,10ns) frame");
}

void TestBuildFrameU32_SetPulseWidth() {
    CHECK_BYTES(BuildFromWords(QX480Command::SET_PULSE_WIDTH, 1, {10000, 0}),
                HexToBytes("EB 90 0E 00 09 01 00 10 27 00 00 00 00 00 00 CA 01 CC"),
                "SET_PULSE_WIDTH(ch1,100ns) frame");
}

void TestBuildFrameU32_EmptyParams() {
    CHECK_BYTES(BuildFromWords(QX480Command::SOFTWARE_TRIG, 0, {}), HexToBytes("EB 90 06 00 14 00 00 95 01 CC"),
                "Empty params equivalent to no PA");
}

// ---- Response-parsing group ----

void TestParseFrame_ReadTempResp() {
    QX480Frame frame{};
    CHECK(ParseHex("EB 90 0A 00 93 01 00 00 C0 EC 41 06 04 CC", frame), "Parse READ_TEMP response");
    CHECK_EQ(frame.cmd, 0x93, "cmd");
    CHECK_EQ(frame.opt, 1, "opt");
    CHECK_EQ(frame.pa.size(), 4, "pa size");
    CHECK(IsAbout29Point5(frame.ReadFloat(0)), "temperature ~29.5C");
}

void TestParseFrame_SetTriggerResp() {
    QX480Frame frame{};
    CHECK(ParseHex("EB 90 06 00 01 01 00 83 01 CC", frame), "Parse SET_TRIGGER response");
    CHECK_EQ(frame.cmd, 1, "cmd");
    CHECK_EQ(frame.opt, 1, "opt (success)");
    CHECK_EQ(frame.pa.size(), 0, "pa size (no PA)");
}

void TestParseFrame_SetTriggerFailResp() {
    QX480Frame frame{};
    CHECK(ParseHex("EB 90 06 00 01 02 00 84 01 CC", frame), "Parse SET_TRIGGER fail response");
    CHECK_EQ(frame.opt, 2, "opt (fail)");
}

void TestParseFrame_SoftwareTrigResp() {
    QX480Frame frame{};
    CHECK(ParseHex("EB 90 06 00 14 01 00 96 01 CC", frame), "Parse SOFTWARE_TRIG response");
    CHECK_EQ(frame.cmd, 0x14, "cmd");
    CHECK_EQ(frame.opt, 1, "opt (success)");
}

// A READ_TIMING response carrying an all-zero timing block, checksum filled in.
Bytes ZeroTimingResponse() {
    Bytes bytes = HexToBytes("EB 90 62 01 C1 00 00");
    bytes.resize(bytes.size() + timing::BLOCK_SIZE, 0x00);
    const int summed = Size(bytes);
    bytes.resize(bytes.size() + 2);  // room for the checksum
    bytes.push_back(frame::TAIL);
    PutU16(bytes.data() + summed, QX480DDG::Checksum(bytes.data(), summed));
    return bytes;
}

void TestParseFrame_ReadTimingResp() {
    QX480Frame frame{};
    CHECK(Parse(ZeroTimingResponse(), frame), "Parse READ_TIMING response");
    CHECK_EQ(frame.cmd, 0xC1, "cmd");
    CHECK_EQ(frame.opt, 0, "opt");
    CHECK_EQ(frame.pa.size(), timing::BLOCK_SIZE, "pa size = 348 bytes");
}

// ---- Rejection group: variants of the good frame EB 90 06 00 01 01 00 83 01 CC ----

bool Rejects(const char* hex) {
    QX480Frame frame{};
    return !ParseHex(hex, frame);
}

void TestParseFrame_BadHead() { CHECK(Rejects("AA 90 06 00 01 01 00 83 01 CC"), "Bad head0 rejected"); }

void TestParseFrame_BadTail() { CHECK(Rejects("EB 90 06 00 01 01 00 83 01 DD"), "Bad tail rejected"); }

void TestParseFrame_BadChecksum() {
    // Checksum FF FF where 83 01 belongs; the tail position then holds 01.
    CHECK(Rejects("EB 90 06 00 01 01 00 FF FF 01 CC"), "Bad checksum rejected");
}

void TestParseFrame_TooShort() { CHECK(Rejects("EB 90 06"), "Too short rejected"); }

void TestParseFrame_NullInput() {
    QX480Frame frame{};
    CHECK(!QX480DDG::ParseFrame(nullptr, 0, frame), "Null input rejected");
}

void TestParseFrame_BadLenField() { CHECK(Rejects("EB 90 01 00 01 01 00 83 01 CC"), "Bad len field rejected"); }

// ---- Field-reader group ----

QX480Frame FrameWithPa(const char* hex) {
    QX480Frame frame{};
    frame.pa = HexToBytes(hex);
    return frame;
}

void TestFrame_ReadU32() { CHECK_EQ(FrameWithPa("78 56 34 12").ReadU32(0), 0x12345678, "ReadU32 little endian"); }

void TestFrame_ReadU64() { CHECK_EQ(FrameWithPa("00 00 00 00 01 00 00 00").ReadU64(0), 0x100000000, "ReadU64"); }

void TestFrame_ReadFloat() { CHECK(IsAbout29Point5(FrameWithPa("00 C0 EC 41").ReadFloat(0)), "ReadFloat 29.5"); }

void TestFrame_ReadU32_OutOfBounds() {
    CHECK_EQ(FrameWithPa("01 02").ReadU32(0), 0, "ReadU32 out of bounds returns 0");
}

// ---- Protocol-function group ----

void TestProto_TriggerModeOpt() {
    CHECK_EQ(TriggerModeOpt(QX480TriggerMode::Internal), 1, "Internal" ARROW "1");
    CHECK_EQ(TriggerModeOpt(QX480TriggerMode::External), 2, "External" ARROW "2");
    CHECK_EQ(TriggerModeOpt(QX480TriggerMode::Software), 3, "Software" ARROW "3");
}

void TestProto_ChannelOpt() {
    CHECK_EQ(ChannelOpt(1, true), 0x0101, "ChannelOpt(1,on)");
    CHECK_EQ(ChannelOpt(8, false), 0x0800, "ChannelOpt(8,off)");
    CHECK_EQ(ChannelOpt(8, true), 0x0801, "ChannelOpt(8,on)");
}

QX480Frame Response(bool valid, std::uint16_t opt) {
    QX480Frame frame{};
    frame.valid = valid;
    frame.opt = opt;
    return frame;
}

void TestProto_IsWriteSuccess() {
    CHECK(IsWriteSuccess(Response(true, 1)), "OPT=1 " ARROW " success");
    CHECK(!IsWriteSuccess(Response(true, 2)), "OPT=2 " ARROW " fail");
    QX480Frame invalid{};
    invalid.valid = false;
    CHECK(!IsWriteSuccess(invalid), "invalid " ARROW " fail");
}

// ---- Round-trip group ----

void TestRoundTrip_ReadTemp() {
    QX480Frame frame{};
    CHECK(Parse(BuildWithoutPa(QX480Command::READ_TEMP, 0), frame), "Round trip READ_TEMP");
    CHECK_EQ(frame.cmd, 0x93, "round trip cmd");
    CHECK_EQ(frame.opt, 0, "round trip opt");
}

void TestRoundTrip_SetDelay() {
    QX480Frame frame{};
    CHECK(Parse(BuildFromWords(QX480Command::SET_DELAY, 1, {1000, 0}), frame), "Round trip SET_DELAY");
    CHECK_EQ(frame.cmd, 8, "round trip cmd");
    CHECK_EQ(frame.opt, 1, "round trip opt");
    CHECK_EQ(frame.pa.size(), 8, "round trip pa size");
    CHECK_EQ(frame.ReadU32(0), 1000, "round trip PA0");
    CHECK_EQ(frame.ReadU32(4), 0, "round trip PA1");
}

// ---- Run order ----

struct Case {
    const char* name;
    void (*run)();
};

#define CASE(function) \
    { #function, function }

const std::vector<std::vector<Case>>& Groups() {
    static const std::vector<std::vector<Case>> groups = {
        {CASE(TestChecksum_ReadTemp), CASE(TestChecksum_SoftwareTrig), CASE(TestChecksum_SetTrigFreq),
         CASE(TestChecksum_Empty), CASE(TestChecksum_Overflow)},
        {CASE(TestBuildFrame_ReadTemp), CASE(TestBuildFrame_ReadTiming), CASE(TestBuildFrame_SetTriggerSoftware),
         CASE(TestBuildFrame_SetChannelOn), CASE(TestBuildFrame_SetGlobalOutput), CASE(TestBuildFrame_SoftwareTrig)},
        {CASE(TestBuildFrameU32_SetTrigFreq), CASE(TestBuildFrameU32_SetDelay), CASE(TestBuildFrameU32_SetPulseWidth),
         CASE(TestBuildFrameU32_EmptyParams)},
        {CASE(TestParseFrame_ReadTempResp), CASE(TestParseFrame_SetTriggerResp),
         CASE(TestParseFrame_SetTriggerFailResp), CASE(TestParseFrame_SoftwareTrigResp),
         CASE(TestParseFrame_ReadTimingResp)},
        {CASE(TestParseFrame_BadHead), CASE(TestParseFrame_BadTail), CASE(TestParseFrame_BadChecksum),
         CASE(TestParseFrame_TooShort), CASE(TestParseFrame_NullInput), CASE(TestParseFrame_BadLenField)},
        {CASE(TestFrame_ReadU32), CASE(TestFrame_ReadU64), CASE(TestFrame_ReadFloat),
         CASE(TestFrame_ReadU32_OutOfBounds)},
        {CASE(TestProto_TriggerModeOpt), CASE(TestProto_ChannelOpt), CASE(TestProto_IsWriteSuccess)},
        {CASE(TestRoundTrip_ReadTemp), CASE(TestRoundTrip_SetDelay)},
    };
    return groups;
}

}  // namespace

int RunAllCases() {
    PrintTitle();
    for (const std::vector<Case>& group : Groups()) {
        for (const Case& testCase : group) {
            PrintCaseName(testCase.name);
            testCase.run();
        }
        EndGroup();
    }
    return PrintSummary();
}

}  // namespace selftest
}  // namespace qx480

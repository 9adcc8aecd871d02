// QX480_UnitTest as a program: its whole report, byte for byte, and its exit
// status, with and without arguments; and the report of a runner built
// against a protocol function that is wrong in one place.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

#define ARROW "\xE2\x86\x92"

const std::string kHead =
    "=== QX480 Protocol Unit Tests ===\n"
    "\n"
    "[TEST] TestChecksum_ReadTemp\n"
    "[TEST] TestChecksum_SoftwareTrig\n"
    "[TEST] TestChecksum_SetTrigFreq\n"
    "[TEST] TestChecksum_Empty\n"
    "[TEST] TestChecksum_Overflow\n"
    "\n"
    "[TEST] TestBuildFrame_ReadTemp\n"
    "[TEST] TestBuildFrame_ReadTiming\n"
    "[TEST] TestBuildFrame_SetTriggerSoftware\n"
    "[TEST] TestBuildFrame_SetChannelOn\n"
    "[TEST] TestBuildFrame_SetGlobalOutput\n"
    "[TEST] TestBuildFrame_SoftwareTrig\n"
    "\n"
    "[TEST] TestBuildFrameU32_SetTrigFreq\n"
    "[TEST] TestBuildFrameU32_SetDelay\n"
    "[TEST] TestBuildFrameU32_SetPulseWidth\n"
    "[TEST] TestBuildFrameU32_EmptyParams\n"
    "\n"
    "[TEST] TestParseFrame_ReadTempResp\n"
    "[TEST] TestParseFrame_SetTriggerResp\n"
    "[TEST] TestParseFrame_SetTriggerFailResp\n"
    "[TEST] TestParseFrame_SoftwareTrigResp\n"
    "[TEST] TestParseFrame_ReadTimingResp\n"
    "\n"
    "[TEST] TestParseFrame_BadHead\n"
    "[TEST] TestParseFrame_BadTail\n"
    "[TEST] TestParseFrame_BadChecksum\n"
    "[TEST] TestParseFrame_TooShort\n"
    "[TEST] TestParseFrame_NullInput\n"
    "[TEST] TestParseFrame_BadLenField\n"
    "\n"
    "[TEST] TestFrame_ReadU32\n"
    "[TEST] TestFrame_ReadU64\n"
    "[TEST] TestFrame_ReadFloat\n"
    "[TEST] TestFrame_ReadU32_OutOfBounds\n"
    "\n"
    "[TEST] TestProto_TriggerModeOpt\n";

const std::string kTail =
    "[TEST] TestProto_ChannelOpt\n"
    "[TEST] TestProto_IsWriteSuccess\n"
    "\n"
    "[TEST] TestRoundTrip_ReadTemp\n"
    "[TEST] TestRoundTrip_SetDelay\n"
    "\n";

const std::string kAllPassSummary =
    "=== Summary ===\n"
    "  Pass: 61\n"
    "  Fail: 0\n"
    "  Total: 61\n"
    "  Result: ALL PASS\n";

const std::string kOneFailureSummary =
    "=== Summary ===\n"
    "  Pass: 60\n"
    "  Fail: 1\n"
    "  Total: 61\n"
    "  Result: HAS FAILURES\n";

struct ProgramRun {
    std::string output;  // stdout and stderr together
    int exitStatus;      // -1 when the program could not be run or did not exit
};

#ifdef _WIN32
// _popen hands the line to "cmd /c", which strips one pair of outer quotes.
std::FILE* OpenPipe(const std::string& commandLine) { return _popen(("\"" + commandLine + "\"").c_str(), "rb"); }
int ClosePipe(std::FILE* pipe) { return _pclose(pipe); }
#else
std::FILE* OpenPipe(const std::string& commandLine) { return popen(commandLine.c_str(), "r"); }
int ClosePipe(std::FILE* pipe) {
    const int status = pclose(pipe);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

ProgramRun RunProgram(const char* program, const std::string& arguments = "") {
    std::string commandLine = std::string("\"") + program + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    std::FILE* pipe = OpenPipe(commandLine + " 2>&1");
    if (pipe == nullptr) return {"", -1};
    ProgramRun run{"", -1};
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    run.exitStatus = ClosePipe(pipe);
    return run;
}

TEST(SelftestReport, all_cases_pass_with_the_exact_report_and_status_0) {
    const ProgramRun run = RunProgram(QX480_UNITTEST_EXE);
    EXPECT_EQ(run.output, kHead + kTail + kAllPassSummary);
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(SelftestReport, arguments_change_nothing) {
    const ProgramRun plain = RunProgram(QX480_UNITTEST_EXE);
    for (const char* arguments : {"--help", "\"x y z\"", "--help x y z"}) {
        const ProgramRun run = RunProgram(QX480_UNITTEST_EXE, arguments);
        EXPECT_EQ(run.output, plain.output) << arguments;
        EXPECT_EQ(run.exitStatus, 0) << arguments;
    }
}

// The runner with TriggerModeOpt(Software) giving 4 must report exactly that
// check, right after its case's name, and count it in the summary.
TEST(SelftestReport, one_failing_check_is_reported_and_gives_status_1) {
    const ProgramRun run = RunProgram(QX480_ONE_FAILURE_EXE);
    EXPECT_EQ(run.exitStatus, 1);
    const std::string& out = run.output;
    ASSERT_EQ(out.compare(0, kHead.size(), kHead), 0) << out;

    const std::string failStart = std::string("  [FAIL] ") + QX480_SELFTEST_CASES_SOURCE + " (line ";
    ASSERT_EQ(out.compare(kHead.size(), failStart.size(), failStart), 0) << out;
    std::size_t at = kHead.size() + failStart.size();
    const std::size_t digits = at;
    while (at < out.size() && std::isdigit(static_cast<unsigned char>(out[at]))) ++at;
    EXPECT_GT(at, digits) << "no line number: " << out;

    const std::string failEnd = "): Software" ARROW "3 (got=4, want=3)\n";
    ASSERT_EQ(out.compare(at, failEnd.size(), failEnd), 0) << out;
    EXPECT_EQ(out.substr(at + failEnd.size()), kTail + kOneFailureSummary);
}

}  // namespace

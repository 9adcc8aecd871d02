// The self-test's check primitives and hex-text parser on their own: what a
// failing check prints, how the counters move, and HexToBytes' exact rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "check.h"

namespace {

using qx480::selftest::CheckBytes;
using qx480::selftest::CheckTrue;
using qx480::selftest::g_fail;
using qx480::selftest::g_pass;
using qx480::selftest::HexToBytes;
using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    int passed;
    int failed;
    std::string printed;
};

// Runs checks, returning how far each counter moved and what went to stdout.
template <typename Checks>
Outcome Observe(Checks checks) {
    const int passBefore = g_pass;
    const int failBefore = g_fail;
    testing::internal::CaptureStdout();
    checks();
    std::string printed = testing::internal::GetCapturedStdout();
    return {g_pass - passBefore, g_fail - failBefore, printed};
}

TEST(SelftestChecks, passing_checks_count_a_pass_each_and_print_nothing) {
    const Outcome outcome = Observe([] {
        CHECK(true, "holds");
        CHECK_EQ(std::uint16_t{532}, 532, "equal");
        CHECK_EQ(std::uint64_t{0x100000000}, 0x100000000, "wide equal");
        CHECK_BYTES(Bytes({0xEB, 0x90}), Bytes({0xEB, 0x90}), "same bytes");
        CHECK_BYTES(Bytes(), Bytes(), "both empty");
    });
    EXPECT_EQ(outcome.passed, 5);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(outcome.printed, "");
}

TEST(SelftestChecks, failing_check_prints_file_line_and_message) {
    const Outcome outcome = Observe([] { CheckTrue(false, "Bad head0 rejected", "selftest/cases.cpp", 217); });
    EXPECT_EQ(outcome.passed, 0);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.printed, "  [FAIL] selftest/cases.cpp (line 217): Bad head0 rejected\n");
}

TEST(SelftestChecks, check_macro_records_its_own_file_and_line) {
    const int line = __LINE__ + 1;
    const Outcome outcome = Observe([] { CHECK(1 + 1 == 3, "arithmetic"); });
    EXPECT_EQ(outcome.printed,
              std::string("  [FAIL] ") + __FILE__ + " (line " + std::to_string(line) + "): arithmetic\n");
}

TEST(SelftestChecks, failing_check_eq_prints_both_values_as_decimals) {
    const int line = __LINE__ + 1;
    const Outcome outcome = Observe([] { CHECK_EQ(std::uint16_t{533}, 532, "READ_TEMP checksum"); });
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.printed, std::string("  [FAIL] ") + __FILE__ + " (line " + std::to_string(line) +
                                   "): READ_TEMP checksum (got=533, want=532)\n");
}

TEST(SelftestChecks, check_eq_prints_narrow_values_non_negative_and_wide_ones_by_their_bits) {
    const Outcome outcome = Observe([] {
        CHECK_EQ(std::uint16_t{0xFFFF}, 0, "u16");
        CHECK_EQ(std::uint32_t{0xFFFFFFFF}, 0, "u32");
        CHECK_EQ(std::uint64_t{1} << 63, 0, "u64 top bit");
    });
    EXPECT_EQ(outcome.failed, 3);
    EXPECT_NE(outcome.printed.find("): u16 (got=65535, want=0)\n"), std::string::npos) << outcome.printed;
    EXPECT_NE(outcome.printed.find("): u32 (got=4294967295, want=0)\n"), std::string::npos) << outcome.printed;
    EXPECT_NE(outcome.printed.find("): u64 top bit (got=-9223372036854775808, want=0)\n"), std::string::npos)
        << outcome.printed;
}

TEST(SelftestChecks, check_eq_compares_numbers_not_bit_patterns) {
    const Outcome outcome = Observe([] {
        CHECK_EQ(UINT64_MAX, -1, "all ones is not minus one");
        CHECK_EQ(std::uint8_t{0xFF}, 255, "byte");
        CHECK_EQ(std::size_t{348}, 348, "length");
    });
    EXPECT_EQ(outcome.passed, 2);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_NE(outcome.printed.find("all ones is not minus one (got=-1, want=-1)"), std::string::npos);
}

TEST(SelftestChecks, check_bytes_fails_when_want_is_a_prefix_and_prints_both_in_full) {
    const Outcome outcome = Observe([] {
        CheckBytes(Bytes({0xEB, 0x90, 0x06}), Bytes({0xEB, 0x90}), "READ_TEMP frame", "cases.cpp", 9);
    });
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.printed,
              "  [FAIL] cases.cpp (line 9): READ_TEMP frame\n"
              "    got:  EB 90 06 \n"
              "    want: EB 90 \n");
}

TEST(SelftestChecks, check_bytes_prints_an_empty_vector_as_its_label_alone) {
    const Outcome outcome = Observe([] { CheckBytes(Bytes(), Bytes({0x0A}), "empty", "cases.cpp", 3); });
    EXPECT_EQ(outcome.printed,
              "  [FAIL] cases.cpp (line 3): empty\n"
              "    got:  \n"
              "    want: 0A \n");
}

TEST(SelftestChecks, every_check_moves_exactly_one_counter) {
    const Outcome outcome = Observe([] {
        CHECK(false, "a");
        CHECK(true, "b");
        CHECK_EQ(1u, 2, "c");
        CHECK_EQ(2u, 2, "d");
        CHECK_BYTES(Bytes({1}), Bytes({2}), "e");
        CHECK_BYTES(Bytes({1}), Bytes({1}), "f");
        CHECK_BYTES(Bytes({1, 2}), Bytes({1, 3}), "g");
    });
    EXPECT_EQ(outcome.passed, 3);
    EXPECT_EQ(outcome.failed, 4);
}

TEST(SelftestHexToBytes, empty_and_blank_text_give_no_bytes) {
    EXPECT_EQ(HexToBytes(""), Bytes());
    EXPECT_EQ(HexToBytes(" \t\r\n  "), Bytes());
    EXPECT_EQ(HexToBytes(nullptr), Bytes());
}

TEST(SelftestHexToBytes, reads_pairs_in_either_case_with_or_without_separators) {
    EXPECT_EQ(HexToBytes("eb90"), Bytes({0xEB, 0x90}));
    EXPECT_EQ(HexToBytes("EB 90\t0a\r\n0A"), Bytes({0xEB, 0x90, 0x0A, 0x0A}));
    EXPECT_EQ(HexToBytes("aB Cd eF"), Bytes({0xAB, 0xCD, 0xEF}));
}

TEST(SelftestHexToBytes, drops_a_lone_last_character) {
    EXPECT_EQ(HexToBytes("123"), Bytes({0x12}));
    EXPECT_EQ(HexToBytes("12 3"), Bytes({0x12}));
}

TEST(SelftestHexToBytes, takes_the_second_character_of_a_pair_whatever_it_is) {
    EXPECT_EQ(HexToBytes("E B"), Bytes({0xE0}));
    EXPECT_EQ(HexToBytes("1\n2"), Bytes({0x10}));
}

TEST(SelftestHexToBytes, counts_a_character_that_is_no_hex_digit_as_zero) {
    EXPECT_EQ(HexToBytes("G1"), Bytes({0x01}));
    EXPECT_EQ(HexToBytes("1z"), Bytes({0x10}));
}

TEST(SelftestHexToBytes, does_not_skip_form_feed_or_vertical_tab) {
    EXPECT_EQ(HexToBytes("\fA"), Bytes({0x0A}));
    EXPECT_EQ(HexToBytes("\v1 2"), Bytes({0x01}));
}

}  // namespace

// Check primitives, their counters and the hex-text parser of the protocol
// self-test. A check never throws and never ends its case: it adds one to
// g_pass or to g_fail and, when it fails, prints one failure line to stdout
// (CHECK_BYTES adds a line of the bytes produced and one of the bytes wanted).
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

namespace qx480 {
namespace selftest {

// Checks passed and failed since the process started; never reset.
extern int g_pass;
extern int g_fail;

// Bytes of hex text written as pairs: space, tab, LF and CR between pairs are
// skipped; any other character starts a pair, and the character after it
// completes the pair whatever it is. Characters that are no hex digit count
// as 0, a lone last character is dropped. A null text gives no bytes.
std::vector<std::uint8_t> HexToBytes(const char* text);

void CheckTrue(bool condition, const char* message, const char* file, int line);
// `got` and `want` are printed on failure as "%lld": narrower values keep
// their number, 64-bit ones their bits (2^63 and above print negative).
void CheckEqual(bool equal, long long got, long long want, const char* message, const char* file, int line);
void CheckBytes(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want, const char* message,
                const char* file, int line);

// The report around the cases.
void PrintTitle();
void PrintCaseName(const char* name);
void EndGroup();
// Prints the summary; returns the exit status: 0 when no check failed, else 1.
int PrintSummary();

namespace detail {

// Equality of two integers as numbers, whatever their signedness.
template <typename A, typename B>
constexpr bool SameNumber(A a, B b) {
    static_assert(std::is_integral_v<A> && std::is_integral_v<B>, "CHECK_EQ compares integers");
    if constexpr (std::is_signed_v<A> == std::is_signed_v<B>) {
        if constexpr (std::is_signed_v<A>)
            return static_cast<std::intmax_t>(a) == static_cast<std::intmax_t>(b);
        else
            return static_cast<std::uintmax_t>(a) == static_cast<std::uintmax_t>(b);
    } else if constexpr (std::is_signed_v<A>) {
        return a >= 0 && static_cast<std::uintmax_t>(a) == static_cast<std::uintmax_t>(b);
    } else {
        return b >= 0 && static_cast<std::uintmax_t>(a) == static_cast<std::uintmax_t>(b);
    }
}

template <typename A, typename B>
void CheckEq(A actual, B expected, const char* message, const char* file, int line) {
    CheckEqual(SameNumber(actual, expected), static_cast<long long>(actual), static_cast<long long>(expected), message,
               file, line);
}

}  // namespace detail
}  // namespace selftest
}  // namespace qx480

#define CHECK(condition, message) ::qx480::selftest::CheckTrue((condition), (message), __FILE__, __LINE__)
#define CHECK_EQ(actual, expected, message) \
    ::qx480::selftest::detail::CheckEq((actual), (expected), (message), __FILE__, __LINE__)
#define CHECK_BYTES(got, want, message) ::qx480::selftest::CheckBytes((got), (want), (message), __FILE__, __LINE__)

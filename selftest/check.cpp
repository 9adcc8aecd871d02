#include "check.h"

#include <cstdio>

namespace qx480 {
namespace selftest {

int g_pass = 0;
int g_fail = 0;

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

void PrintFailure(const char* message, const char* file, int line) {
    std::printf("  [FAIL] %s (line %d): %s\n", file, line, message);
}

void PrintBytesLine(const char* label, const std::vector<std::uint8_t>& bytes) {
    std::printf("%s", label);
    for (std::uint8_t b : bytes) std::printf("%02X ", b);
    std::printf("\n");
}

}  // namespace

std::vector<std::uint8_t> HexToBytes(const char* text) {
    std::vector<std::uint8_t> bytes;
    if (text == nullptr) return bytes;
    const char* p = text;
    while (*p != '\0') {
        if (IsSeparator(*p)) {
            ++p;
            continue;
        }
        if (p[1] == '\0') break;
        bytes.push_back(static_cast<std::uint8_t>(HexValue(p[0]) * 16 + HexValue(p[1])));
        p += 2;
    }
    return bytes;
}

void CheckTrue(bool condition, const char* message, const char* file, int line) {
    if (condition) {
        ++g_pass;
        return;
    }
    ++g_fail;
    PrintFailure(message, file, line);
}

void CheckEqual(bool equal, long long got, long long want, const char* message, const char* file, int line) {
    if (equal) {
        ++g_pass;
        return;
    }
    ++g_fail;
    std::printf("  [FAIL] %s (line %d): %s (got=%lld, want=%lld)\n", file, line, message, got, want);
}

void CheckBytes(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want, const char* message,
                const char* file, int line) {
    if (got == want) {
        ++g_pass;
        return;
    }
    ++g_fail;
    PrintFailure(message, file, line);
    PrintBytesLine("    got:  ", got);
    PrintBytesLine("    want: ", want);
}

void PrintTitle() { std::printf("=== QX480 Protocol Unit Tests ===\n\n"); }

void PrintCaseName(const char* name) { std::printf("[TEST] %s\n", name); }

void EndGroup() { std::printf("\n"); }

int PrintSummary() {
    std::printf("=== Summary ===\n");
    std::printf("  Pass: %d\n", g_pass);
    std::printf("  Fail: %d\n", g_fail);
    std::printf("  Total: %d\n", g_pass + g_fail);
    std::printf("  Result: %s\n", g_fail == 0 ? "ALL PASS" : "HAS FAILURES");
    return g_fail == 0 ? 0 : 1;
}

}  // namespace selftest
}  // namespace qx480

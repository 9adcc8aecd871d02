// The self-test's hex-text parser on arbitrary text. Checked against a
// plain second reading of its rule, and in reverse: the bytes it returns,
// written out again as hex pairs with fuzzed separators, read back the same.
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int DigitValue(char c) {
    const std::string digits = "0123456789abcdef";
    const std::size_t lower = digits.find(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    return lower == std::string::npos ? 0 : static_cast<int>(lower);
}

// Separators between pairs are skipped; any other character opens a pair
// that the next character closes, whatever it is; a lone last one is dropped.
Bytes Reference(const std::string& text) {
    Bytes bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSeparator(text[i])) {
            ++i;
        } else if (i + 1 < text.size()) {
            bytes.push_back(static_cast<std::uint8_t>(DigitValue(text[i]) * 16 + DigitValue(text[i + 1])));
            i += 2;
        } else {
            break;
        }
    }
    return bytes;
}

std::string Written(const Bytes& bytes, const Bytes& separators) {
    static const char* const kSeparators[] = {"", " ", "\t", "\r\n", "  "};
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, i % 2 == 0 ? "%02X" : "%02x", bytes[i]);
        text += pair;
        const std::uint8_t pick = separators.empty() ? 1 : separators[i % separators.size()];
        text += kSeparators[pick % 5];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The parser reads a C string: the text ends at the first NUL.
    const std::string whole(reinterpret_cast<const char*>(data), size);
    const std::string text = whole.substr(0, whole.find('\0'));
    const Bytes bytes = qx480::selftest::HexToBytes(text.c_str());
    FUZZ_CHECK(bytes.size() <= text.size() / 2);
    FUZZ_CHECK(bytes == Reference(text));

    const Bytes separators(data, data + std::min<std::size_t>(size, 16));
    FUZZ_CHECK(qx480::selftest::HexToBytes(Written(bytes, separators).c_str()) == bytes);
    FUZZ_CHECK(qx480::selftest::HexToBytes(nullptr).empty());
    return 0;
}

// The telnet codec of rfc2217:// fed a fuzzed server stream, once whole and
// once in fuzzed pieces.
//
// Input: one byte, the number of piece sizes that follow (each piece is
// (byte & 0x3F) + 1 bytes), then the stream.
//
// Checked: the split does not change the data, the replies or the answers;
// data is never longer than the stream; every reply is IAC, a negotiation
// verb and an option; and the data, encoded for the wire and fed to a fresh
// codec, comes out unchanged.
#include <algorithm>
#include <optional>
#include <vector>

#include "fuzz_support.h"
#include "telnet_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace telnet = qx480::detail::telnet;

constexpr std::uint8_t PIECE_MASK = 0x3F;

Bytes TakeBytes(qx480::fuzz::Input& input, std::size_t count) {
    std::size_t taken = 0;
    const std::uint8_t* bytes = input.Take(count, taken);
    return Bytes(bytes, bytes + taken);
}

struct Result {
    Bytes data;
    Bytes replies;
    std::vector<std::optional<Bytes>> answers;
};

Result Run(const Bytes& stream, const Bytes& pieces) {
    telnet::Codec codec;
    Result result;
    result.replies = codec.Greeting();
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t piece = i < pieces.size() ? (pieces[i] & PIECE_MASK) + 1u : stream.size() - at;
        const std::size_t size = std::min(piece, stream.size() - at);
        codec.Feed(stream.data() + at, size, result.data);
        const Bytes replies = codec.TakeReplies();
        result.replies.insert(result.replies.end(), replies.begin(), replies.end());
        at += size;
    }
    for (int command = 0; command < 256; ++command) result.answers.push_back(codec.Answer(command));
    return result;
}

bool WellFormedReplies(const Bytes& replies) {
    if (replies.size() % 3 != 0) return false;
    for (std::size_t i = 0; i < replies.size(); i += 3) {
        const std::uint8_t verb = replies[i + 1];
        if (replies[i] != telnet::IAC || verb < telnet::WILL || verb > telnet::DONT) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qx480::fuzz::Input input(data, size);
    const Bytes pieces = TakeBytes(input, input.Byte());
    const Bytes stream = TakeBytes(input, input.Remaining());

    const Result whole = Run(stream, {});
    const Result split = Run(stream, pieces);
    FUZZ_CHECK(whole.data == split.data);
    FUZZ_CHECK(whole.replies == split.replies);
    FUZZ_CHECK(whole.answers == split.answers);
    FUZZ_CHECK(whole.data.size() <= stream.size());
    FUZZ_CHECK(WellFormedReplies(whole.replies));

    Bytes wire;
    telnet::Codec::EncodeData(whole.data.data(), whole.data.size(), wire);
    telnet::Codec fresh;
    Bytes again;
    fresh.Feed(wire.data(), wire.size(), again);
    FUZZ_CHECK(again == whole.data);
    FUZZ_CHECK(fresh.TakeReplies().empty());
    return 0;
}

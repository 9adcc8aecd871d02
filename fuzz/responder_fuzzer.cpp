// The simulated device's request side on an arbitrary byte stream fed in
// fuzzed pieces, with fuzzed response faults. Whatever arrives, every reply
// answers a valid request with the same command, and its bytes on the line
// end with the response frame.
//
// Input: a faults byte (bit 0 short length, bit 1 corrupt every 2nd, bit 2
// drop every 3rd, bits 3-7 the piece count), a stray-byte count, then pieces:
// one length byte and that many bytes each.
#include <vector>

#include "commands.h"
#include "frame.h"
#include "fuzz_support.h"
#include "responder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace frame = qx480::frame;

constexpr int MAX_STRAY = 64;

qx480::sim::Options OptionsFrom(qx480::fuzz::Input& in) {
    const std::uint8_t bits = in.Byte();
    qx480::sim::Options options;
    options.faults.shortLength = (bits & 1) != 0;
    options.faults.corruptEvery = (bits & 2) != 0 ? 2 : 0;
    options.faults.dropEvery = (bits & 4) != 0 ? 3 : 0;
    options.faults.pieces = bits >> 3;
    options.faults.strayBytes = in.Byte() % (MAX_STRAY + 1);
    options.keepRequestLog = false;
    return options;
}

void CheckReply(const qx480::sim::Reply& reply, const qx480::sim::Faults& faults) {
    QX480Frame request;
    FUZZ_CHECK(qx480::ParseFrame(reply.request.data(), static_cast<int>(reply.request.size()), request));
    FUZZ_CHECK(reply.request.size() == request.pa.size() + frame::OVERHEAD);
    if (reply.response.empty()) {
        FUZZ_CHECK(faults.dropEvery > 0 && reply.chunks.empty());
        return;
    }
    FUZZ_CHECK(reply.response.size() >= static_cast<std::size_t>(frame::MIN_FRAME));
    FUZZ_CHECK(reply.response[frame::CMD_OFFSET] == request.cmd);
    QX480Frame response;
    const bool valid = qx480::ParseFrame(reply.response.data(), static_cast<int>(reply.response.size()), response);
    FUZZ_CHECK(valid || faults.shortLength || faults.corruptEvery > 0);

    Bytes line;
    for (const qx480::sim::Chunk& chunk : reply.chunks) line.insert(line.end(), chunk.bytes.begin(), chunk.bytes.end());
    FUZZ_CHECK(line.size() == reply.response.size() + static_cast<std::size_t>(faults.strayBytes));
    FUZZ_CHECK(Bytes(line.end() - static_cast<std::ptrdiff_t>(reply.response.size()), line.end()) == reply.response);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qx480::fuzz::Input in(data, size);
    const qx480::sim::Options options = OptionsFrom(in);
    qx480::sim::Responder responder(options);
    std::size_t fed = 0;
    int replies = 0;
    while (in.Remaining() > 0) {
        std::size_t count;
        const std::uint8_t* piece = in.Take(in.Byte(), count);
        for (const qx480::sim::Reply& reply : responder.Feed(piece, count)) {
            CheckReply(reply, options.faults);
            ++replies;
        }
        fed += count;
    }
    FUZZ_CHECK(responder.BytesReceived() == fed);
    FUZZ_CHECK(responder.RequestCount() == static_cast<std::size_t>(replies));
    return 0;
}

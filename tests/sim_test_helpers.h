// What the simulated device's tests share: the command codes by name, the
// temperature query and its answer, and a Responder fed bytes and read as the
// line would carry its replies.
#pragma once

#include <vector>

#include "commands.h"
#include "frames.h"
#include "golden_frames.h"
#include "responder.h"

namespace simtest {

using qx480::test::Bytes;

inline constexpr std::uint8_t SET_TRIGGER = qx480::CommandCode(QX480Command::SET_TRIGGER);
inline constexpr std::uint8_t SET_TRIG_FREQ = qx480::CommandCode(QX480Command::SET_TRIG_FREQ);
inline constexpr std::uint8_t SET_CHANNEL = qx480::CommandCode(QX480Command::SET_CHANNEL);
inline constexpr std::uint8_t SET_GLOBAL_OUTPUT = qx480::CommandCode(QX480Command::SET_GLOBAL_OUTPUT);
inline constexpr std::uint8_t SET_DELAY = qx480::CommandCode(QX480Command::SET_DELAY);
inline constexpr std::uint8_t SET_PULSE_WIDTH = qx480::CommandCode(QX480Command::SET_PULSE_WIDTH);
inline constexpr std::uint8_t SOFTWARE_TRIG = qx480::CommandCode(QX480Command::SOFTWARE_TRIG);
inline constexpr std::uint8_t READ_TEMP = qx480::CommandCode(QX480Command::READ_TEMP);
inline constexpr std::uint8_t READ_TIMING = qx480::CommandCode(QX480Command::READ_TIMING);

inline const Bytes& TEMP_REQUEST = qx480::test::golden::READ_TEMP.bytes;
inline const Bytes& TEMP_ANSWER = qx480::test::golden::READ_TEMP_ANSWER.bytes;

inline std::vector<qx480::sim::Reply> Feed(qx480::sim::Responder& r, const Bytes& bytes) {
    return r.Feed(bytes.data(), bytes.size());
}

// The bytes a reply puts on the line, chunks joined.
inline Bytes Wire(const qx480::sim::Reply& reply) {
    Bytes out;
    for (const auto& chunk : reply.chunks) out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
    return out;
}

// The single answer to one request, as sent.
inline Bytes AnswerTo(qx480::sim::Responder& r, const Bytes& request) {
    const auto replies = Feed(r, request);
    return replies.size() == 1 ? Wire(replies[0]) : Bytes{};
}

// An answer of `cmd` that says "accepted".
inline Bytes Accepted(std::uint8_t cmd) { return qx480::test::FrameOf(cmd, qx480::option::RESPONSE_OK); }

}  // namespace simtest

// The resynchronising receiver: finds a frame's head in a byte stream, reads
// its length and body within one time limit, and hands the frame to the parser.
//
// It is a template over its byte source and clock so that tests can script
// both. Source: `int Read(std::uint8_t* buf, int size, int timeoutMs)` giving
// a count or -1. Clock: `std::uint32_t operator()()` giving milliseconds that
// wrap at 2^32. Each whole frame read (checked or not) is shown to `onFrame`.
#pragma once

#include <cstdint>
#include <vector>

#include "frame.h"

namespace qx480 {
namespace detail {

constexpr int HUNT_READ_MS = 50;
constexpr int LENGTH_READ_MS = 50;
constexpr int BODY_READ_MS = 100;

struct IgnoreFrame {
    void operator()(const std::uint8_t*, std::size_t) const {}
};

template <class Source, class Clock, class OnFrame = IgnoreFrame>
class FrameReceiver {
public:
    FrameReceiver(Source& source, Clock& clock, const OnFrame& onFrame = OnFrame())
        : m_source(source), m_clock(clock), m_onFrame(onFrame) {}

    // True when a valid frame was received and decoded into `out`. On false
    // out.valid is false and its other fields are untouched, unless the frame
    // reached the parser (which then resets them).
    bool Receive(QX480Frame& out, int timeoutMs) {
        out.valid = false;
        m_start = m_clock();
        m_limit = timeoutMs;
        std::uint8_t lenField[2];
        if (!HuntHead() || !ReadFully(lenField, 2, LENGTH_READ_MS)) return false;
        const int len = GetU16(lenField);
        if (len < frame::MIN_LEN) return false;  // no second hunt
        std::vector<std::uint8_t> whole(static_cast<std::size_t>(len) + frame::LEN_TO_FRAME);
        whole[0] = frame::HEAD0;
        whole[1] = frame::HEAD1;
        whole[2] = lenField[0];
        whole[3] = lenField[1];
        if (!ReadFully(whole.data() + frame::CMD_OFFSET, len, BODY_READ_MS)) return false;
        m_onFrame(whole.data(), whole.size());
        return ParseFrame(whole.data(), static_cast<int>(whole.size()), out);
    }

private:
    // Unsigned difference, so the tick counter's wrap neither ends nor prolongs the wait.
    bool TimeUp() const {
        return m_limit <= 0 || static_cast<std::uint32_t>(m_clock() - m_start) >= static_cast<std::uint32_t>(m_limit);
    }

    bool HuntHead() {
        bool sawHead0 = false;
        while (!TimeUp()) {
            std::uint8_t b;
            const int n = m_source.Read(&b, 1, HUNT_READ_MS);
            if (n < 0) return false;
            if (n == 0) continue;
            if (sawHead0 && b == frame::HEAD1) return true;
            sawHead0 = (b == frame::HEAD0);  // EB EB 90: the head starts at the second EB
        }
        return false;
    }

    bool ReadFully(std::uint8_t* dst, int size, int readLimitMs) {
        int have = 0;
        while (have < size) {
            if (TimeUp()) return false;
            const int n = m_source.Read(dst + have, size - have, readLimitMs);
            if (n < 0) return false;
            have += n;
        }
        return true;
    }

    Source& m_source;
    Clock& m_clock;
    const OnFrame& m_onFrame;
    std::uint32_t m_start = 0;
    int m_limit = 0;
};

template <class Source, class Clock, class OnFrame = IgnoreFrame>
bool ReceiveFrame(Source& source, Clock& clock, QX480Frame& out, int timeoutMs, const OnFrame& onFrame = OnFrame()) {
    return FrameReceiver<Source, Clock, OnFrame>(source, clock, onFrame).Receive(out, timeoutMs);
}

}  // namespace detail
}  // namespace qx480

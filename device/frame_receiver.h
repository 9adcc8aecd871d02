// The resynchronising receiver: finds a frame's head in a byte stream, reads
// its length and body within one time limit, checks the frame and takes it
// when it carries the request's command code.
//
// The device answers every request with a frame of the request's code, so a
// valid frame with another code answers some earlier request (most likely a
// late answer that came in after the purge): it is dropped and the hunt goes
// on within the same limit. A frame that fails its length, tail or checksum
// test ends the receive; there is no second hunt after it.
//
// It is a template over its byte source and clock so that tests can script
// both. Source: `int Read(std::uint8_t* buf, int size, int timeoutMs)` giving
// a count or -1. Clock: `std::uint32_t operator()()` giving milliseconds that
// wrap at 2^32. Observer: `void operator()(bool taken, const std::uint8_t*,
// std::size_t)` sees the frame taken and everything dropped (stray bytes,
// frames of another code, frames that failed their checks).
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame.h"
#include "outcome.h"

namespace qx480 {
namespace detail {

constexpr int HUNT_READ_MS = 50;
constexpr int LENGTH_READ_MS = 50;
constexpr int BODY_READ_MS = 100;

struct IgnoreFrames {
    void operator()(bool, const std::uint8_t*, std::size_t) const {}
};

template <class Source, class Clock, class Observer = IgnoreFrames>
class FrameReceiver {
public:
    FrameReceiver(Source& source, Clock& clock, const Observer& observer = Observer())
        : m_source(source), m_clock(clock), m_observer(observer) {}

    // Accepted when a valid frame carrying `expectedCmd` was decoded into
    // `out`. Otherwise out.valid is false and its other fields are untouched,
    // unless the frame that failed reached the parser (which resets them).
    QX480Status Receive(QX480Frame& out, std::uint8_t expectedCmd, int timeoutMs) {
        out.valid = false;
        m_start = m_clock();
        m_limit = timeoutMs;
        m_expectedCmd = expectedCmd;
        for (;;) {
            QX480Frame candidate;
            const QX480Status status = ReceiveOne(candidate);
            if (status != QX480Status::Accepted) return status;
            if (!candidate.valid) {
                out = std::move(candidate);
                return QX480Status::CorruptAnswer;
            }
            if (candidate.cmd == expectedCmd) {
                out = std::move(candidate);
                return QX480Status::Accepted;
            }
        }
    }

private:
    static constexpr bool OBSERVED = !std::is_same<Observer, IgnoreFrames>::value;

    // Reads one frame from its head to its tail. Accepted when the whole
    // frame reached the parser, which filled `frame` (valid or not).
    QX480Status ReceiveOne(QX480Frame& frame) {
        if (!HuntHead()) return Failure(QX480Status::NoAnswer);
        std::uint8_t head[frame::LEN_TO_FRAME] = {frame::HEAD0, frame::HEAD1, 0, 0};
        if (!ReadFully(head + frame::LEN_OFFSET, 2, LENGTH_READ_MS)) {
            Show(false, head, static_cast<std::size_t>(frame::LEN_OFFSET + m_have));
            return Failure(QX480Status::CorruptAnswer);
        }
        const int len = GetU16(head + frame::LEN_OFFSET);
        if (len < frame::MIN_LEN) {  // no second hunt
            Show(false, head, sizeof head);
            return QX480Status::CorruptAnswer;
        }
        std::vector<std::uint8_t> whole(static_cast<std::size_t>(len) + frame::LEN_TO_FRAME);
        std::copy(head, head + frame::LEN_TO_FRAME, whole.begin());
        if (!ReadFully(whole.data() + frame::CMD_OFFSET, len, BODY_READ_MS)) {
            Show(false, whole.data(), static_cast<std::size_t>(frame::CMD_OFFSET + m_have));
            return Failure(QX480Status::CorruptAnswer);
        }
        const bool parsed = ParseFrame(whole.data(), static_cast<int>(whole.size()), frame);
        Show(parsed && frame.cmd == m_expectedCmd, whole.data(), whole.size());
        return QX480Status::Accepted;
    }

    // A read error reports the port, whatever the phase; otherwise `timedOut`.
    QX480Status Failure(QX480Status timedOut) const { return m_readFailed ? QX480Status::PortFailed : timedOut; }

    // Unsigned difference, so the tick counter's wrap neither ends nor prolongs the wait.
    bool TimeUp() const {
        return m_limit <= 0 || static_cast<std::uint32_t>(m_clock() - m_start) >= static_cast<std::uint32_t>(m_limit);
    }

    bool HuntHead() {
        bool sawHead0 = false;
        bool found = false;
        while (!found && !TimeUp()) {
            std::uint8_t b;
            const int n = m_source.Read(&b, 1, HUNT_READ_MS);
            if (n < 0) {
                m_readFailed = true;
                break;
            }
            if (n == 0) continue;
            found = sawHead0 && b == frame::HEAD1;
            if (found) break;
            if (sawHead0) KeepStray(frame::HEAD0);
            sawHead0 = (b == frame::HEAD0);  // EB EB 90: the head starts at the second EB
            if (!sawHead0) KeepStray(b);
        }
        if (!found && sawHead0) KeepStray(frame::HEAD0);
        ShowStray();
        return found;
    }

    bool ReadFully(std::uint8_t* dst, int size, int readLimitMs) {
        m_have = 0;
        while (m_have < size) {
            if (TimeUp()) return false;
            const int n = m_source.Read(dst + m_have, size - m_have, readLimitMs);
            if (n < 0) {
                m_readFailed = true;
                return false;
            }
            m_have += n;
        }
        return true;
    }

    void KeepStray(std::uint8_t b) {
        if (OBSERVED) m_stray.push_back(b);
    }

    void ShowStray() {
        if (!OBSERVED || m_stray.empty()) return;
        Show(false, m_stray.data(), m_stray.size());
        m_stray.clear();
    }

    void Show(bool taken, const std::uint8_t* bytes, std::size_t size) {
        if (OBSERVED) m_observer(taken, bytes, size);
    }

    Source& m_source;
    Clock& m_clock;
    Observer m_observer;
    std::uint32_t m_start = 0;
    int m_limit = 0;
    std::uint8_t m_expectedCmd = 0;
    int m_have = 0;
    bool m_readFailed = false;
    std::vector<std::uint8_t> m_stray;
};

template <class Source, class Clock, class Observer = IgnoreFrames>
QX480Status ReceiveFrame(Source& source, Clock& clock, QX480Frame& out, std::uint8_t expectedCmd, int timeoutMs,
                         const Observer& observer = Observer()) {
    return FrameReceiver<Source, Clock, Observer>(source, clock, observer).Receive(out, expectedCmd, timeoutMs);
}

}  // namespace detail
}  // namespace qx480

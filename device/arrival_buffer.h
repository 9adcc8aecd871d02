// The receiver's byte source over a port: each port read takes everything
// that has arrived (up to CAPACITY bytes), and the receiver's small reads,
// one byte at a time while it hunts for a head, are served from here. The
// receiver finds the same frames as it would reading the port directly,
// with one system call per arrival instead of one per byte or field.
//
// Bytes that follow the answer are read ahead and thrown away with the
// buffer at the end of the receive, as the next exchange's purge would throw
// them away in the port. One buffer serves one receive.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qx480 {
namespace detail {

template <class Port>
class ArrivalBuffer {
public:
    // A whole timing-block answer (358 bytes) fits in one read.
    static constexpr int CAPACITY = 512;

    explicit ArrivalBuffer(Port& port) : m_port(port) {}

    // As Port::Read: up to `size` bytes into `dst`, 0 when nothing came
    // within timeoutMs, -1 when the port failed. Bytes already here are
    // handed out first without touching the port; a read of CAPACITY bytes
    // or more with nothing here goes to the port directly.
    int Read(std::uint8_t* dst, int size, int timeoutMs) {
        if (m_begin == m_end) {
            if (size >= CAPACITY || size <= 0) return m_port.Read(dst, size, timeoutMs);
            const int got = m_port.Read(m_bytes, CAPACITY, timeoutMs);
            if (got <= 0) return got;
            m_begin = 0;
            m_end = got;
        }
        const int n = std::min(size, m_end - m_begin);
        std::memcpy(dst, m_bytes + m_begin, static_cast<std::size_t>(n));
        m_begin += n;
        return n;
    }

private:
    Port& m_port;
    std::uint8_t m_bytes[CAPACITY];
    int m_begin = 0;
    int m_end = 0;
};

}  // namespace detail
}  // namespace qx480

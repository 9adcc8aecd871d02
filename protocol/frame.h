/// \file
/// Frame wire format, checksum, builders, parser and the decoded frame record.
///
/// A frame on the wire, every multi-byte field little-endian:
///
///   offset  size  field
///   0       1     head0     0xEB
///   1       1     head1     0x90
///   2       2     len       n + 6: the bytes after this field
///   4       1     cmd       command code
///   5       2     opt       option word
///   7       n     PA        parameter bytes, never escaped
///   7 + n   2     checksum  low 16 bits of the sum of bytes 0 .. 6 + n
///   9 + n   1     tail      0xCC
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qx480_export.h"

namespace qx480 {
namespace frame {

constexpr std::uint8_t HEAD0 = 0xEB;  ///< first byte of every frame
constexpr std::uint8_t HEAD1 = 0x90;  ///< second byte of every frame
constexpr std::uint8_t TAIL = 0xCC;   ///< last byte of every frame

constexpr int LEN_OFFSET = 2;  ///< where the length field starts
constexpr int CMD_OFFSET = 4;  ///< where the command code is
constexpr int OPT_OFFSET = 5;  ///< where the option word starts
constexpr int PA_OFFSET = 7;   ///< where the parameter bytes start

/// `len` counts cmd (1), opt (2), checksum (2) and tail (1) besides the PA.
constexpr int LEN_OVERHEAD = 6;
/// A whole frame is `len` plus the head (2) and the length field (2).
constexpr int LEN_TO_FRAME = 4;
constexpr int OVERHEAD = LEN_OVERHEAD + LEN_TO_FRAME;  ///< bytes of a frame besides its PA
constexpr int MIN_LEN = LEN_OVERHEAD;                  ///< the smallest `len`: no PA
constexpr int MAX_LEN = 0xFFFF;                        ///< the largest `len` the field holds
constexpr int MAX_PA = MAX_LEN - LEN_OVERHEAD;         ///< the most parameter bytes a frame carries
constexpr int MAX_WORDS = MAX_PA / 4;                  ///< the most 32-bit words a frame carries
constexpr int MIN_FRAME = OVERHEAD;                    ///< the shortest frame
constexpr int MAX_FRAME = MAX_LEN + LEN_TO_FRAME;      ///< the longest frame

}  // namespace frame
}  // namespace qx480

/// One decoded frame. `valid` is true only when the last ParseFrame into this
/// record accepted its input; after a rejection the record is reset
/// (valid false, cmd 0, opt 0, pa empty).
struct QX480_EXPORT QX480Frame {
    bool valid;                    ///< the last ParseFrame into this record accepted its input
    std::uint8_t cmd;              ///< the command code
    std::uint16_t opt;             ///< the option word
    std::vector<std::uint8_t> pa;  ///< the parameter bytes

    /// Little-endian readers over `pa`; offsets count from the first PA byte.
    /// A read that does not lie wholly inside `pa`, or a negative offset,
    /// gives 0 (ReadFloat: +0.0).
    std::uint32_t ReadU32(int offset) const;
    /// Low word from `offset`, high word from `offset + 4`, each bounded on its own.
    std::uint64_t ReadU64(int offset) const;
    /// The ReadU32 bit pattern taken as an IEEE-754 single, NaNs included.
    float ReadFloat(int offset) const;
};

namespace qx480 {

/// Low 16 bits of the plain byte sum; 0 when size <= 0 (data is then not read).
QX480_EXPORT std::uint16_t Checksum(const std::uint8_t* data, int size);

/// Overwrites `out` with the frame for cmd/opt and paLen bytes at pa. A null pa
/// or paLen 0 means no PA. Outside the contract (paLen < 0 or > frame::MAX_PA,
/// null pa with paLen > 0) `out` is left empty and pa is not read. Reuses the
/// storage of `out`.
QX480_EXPORT void BuildFrame(std::uint8_t cmd, std::uint16_t opt, const std::uint8_t* pa, int paLen,
                             std::vector<std::uint8_t>& out);

/// As BuildFrame with each word as four little-endian bytes, in list order.
/// More than frame::MAX_WORDS words leaves `out` empty.
QX480_EXPORT void BuildFrameU32(std::uint8_t cmd, std::uint16_t opt, const std::vector<std::uint32_t>& words,
                                std::vector<std::uint8_t>& out);

/// One line on standard output: "label: " (when label is non-null), "%02X " per
/// byte, "(N bytes)". Prints nothing at all for an empty frame.
QX480_EXPORT void DumpFrame(const std::vector<std::uint8_t>& frame, const char* label);

/// Validates head, length, tail and checksum (in that order) and decodes into
/// `out`. Bytes after the tail are ignored. Returns out.valid.
QX480_EXPORT bool ParseFrame(const std::uint8_t* data, int size, QX480Frame& out);

///@{
/// Writes (Put) or reads (Get) the little-endian forms used inside frames, at `p`.
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutF32(std::uint8_t* p, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    PutU32(p, bits);
}
inline std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
///@}

}  // namespace qx480

// The frames the tests hold the wire to: the nine requests, each with the
// arguments its name gives, and the answers the device documents, each as
// its hex text and its bytes.
#pragma once

#include <string>

#include "hex.h"

namespace qx480 {
namespace test {

struct GoldenFrame {
    std::string text;  // "EB 90 06 00 ...", as trace lines print frames
    Bytes bytes;
};

inline GoldenFrame Golden(const char* text) { return {text, Hex(text)}; }

namespace golden {

// Requests.
inline const GoldenFrame SET_TRIGGER_SOFTWARE = Golden("EB 90 06 00 01 03 00 85 01 CC");
inline const GoldenFrame SET_TRIG_FREQ_1KHZ = Golden("EB 90 0A 00 05 00 00 90 D0 03 00 ED 02 CC");
inline const GoldenFrame SET_CHANNEL_1_ON = Golden("EB 90 06 00 06 01 01 89 01 CC");
inline const GoldenFrame SET_GLOBAL_OUTPUT_ON = Golden("EB 90 06 00 07 01 00 89 01 CC");
inline const GoldenFrame SET_DELAY_1_10NS = Golden("EB 90 0E 00 08 01 00 E8 03 00 00 00 00 00 00 7D 02 CC");
inline const GoldenFrame SET_PULSE_WIDTH_1_100NS = Golden("EB 90 0E 00 09 01 00 10 27 00 00 00 00 00 00 CA 01 CC");
inline const GoldenFrame SOFTWARE_TRIG = Golden("EB 90 06 00 14 00 00 95 01 CC");
inline const GoldenFrame READ_TEMP = Golden("EB 90 06 00 93 00 00 14 02 CC");
inline const GoldenFrame READ_TIMING = Golden("EB 90 06 00 C1 00 00 42 02 CC");

// Answers.
inline const GoldenFrame READ_TEMP_ANSWER = Golden("EB 90 0A 00 93 01 00 00 C0 EC 41 06 04 CC");  // 29.59375 C
inline const GoldenFrame SET_TRIGGER_ACCEPTED = Golden("EB 90 06 00 01 01 00 83 01 CC");
inline const GoldenFrame SET_TRIGGER_REFUSED = Golden("EB 90 06 00 01 02 00 84 01 CC");
inline const GoldenFrame SET_DELAY_ACCEPTED = Golden("EB 90 06 00 08 01 00 8A 01 CC");
inline const GoldenFrame SOFTWARE_TRIG_ACCEPTED = Golden("EB 90 06 00 14 01 00 96 01 CC");

}  // namespace golden
}  // namespace test
}  // namespace qx480

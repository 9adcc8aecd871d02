// Setup files: a whole device setup as one JSON object that `apply` sends,
// `save` writes from what the device reports and `diff` compares with it.
//
//   {"qx480_setup": 1, "note": "anything",
//    "output": false,
//    "trigger": {"source": "internal", "rate": "1kHz"},
//    "channels": {"1": {"delay": "10ns", "width": "100ns", "on": true}}}
//
// Every key is optional but the version; times and rates are the words of
// the command line. A file is checked whole before anything is sent.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "commands.h"

namespace qx480 {
namespace tool {

// The one version of the format.
constexpr int SETUP_VERSION = 1;

// One channel's settings as the file gives them; absent ones are left alone.
struct ChannelSetup {
    std::optional<std::uint64_t> delay;  // 10 ps counts
    std::optional<std::uint64_t> width;  // 10 ps counts
    std::optional<bool> on;
};

// A checked setup file, in wire units.
struct Setup {
    std::optional<bool> output;
    std::optional<QX480TriggerMode> source;
    std::optional<std::uint32_t> ticks;  // the trigger rate's period in 4 ns ticks
    double requestedHz = 0;              // the rate the file names, when ticks is set
    std::array<ChannelSetup, CHANNEL_COUNT> channels{};

    // True when the file sets anything besides the global output.
    bool SetsMoreThanOutput() const;
    // The keys whose values the device does not report ("output",
    // "trigger.source", "channels.2.on"), which diff cannot compare.
    std::vector<std::string> UnreportedKeys() const;
};

// Checks `text` as the setup file called `file` in messages. On any fault
// returns false with one line "FILE: KEY: what is wrong" in `error`.
bool ParseSetup(const std::string& text, const std::string& file, Setup& setup, std::string& error);

// Reads the file at `path` (UTF-8) whole and checks it as ParseSetup does.
bool ReadSetupFile(const std::string& path, Setup& setup, std::string& error);

// The setup file `save` writes for what the device reports in `block`: the
// delays, widths and trigger rate, with a note saying that the rest is not in it.
std::string SavedSetupText(const timing::Block& block);

}  // namespace tool
}  // namespace qx480

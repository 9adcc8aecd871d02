// The checks of the words a command takes (channels, on/off, trigger
// sources, times and rates) with their one-line errors and the hints for
// common slips, shared by the command line and the setup files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "units.h"

namespace qx480 {
namespace tool {

// A word in quotes, as messages show what was typed: 'word'.
std::string Quoted(const std::string& word);

// True, with `value` set, for decimal digits only (at most 18) whose number
// is at most `max`.
bool ParseWhole(const std::string& text, long long max, long long& value);

// ": did you mean CHOICE?" when `word` is one of `choices` in other case
// ("ON" for "on"); "" otherwise.
std::string CaseHint(const std::string& word, const std::vector<std::string>& choices);

// The trigger sources' names with `between` between them and `beforeLast`
// before the last one: "internal, external or software".
std::string TriggerModeNames(const char* between, const char* beforeLast);

// A channel number from 1 to CHANNEL_COUNT.
bool ParseChannel(const std::string& text, int& channel, std::string& error);
// "on" or "off"; `what` names the setting in the error ("output takes on or off, not 'x'").
bool ParseOnOff(const std::string& text, const std::string& what, bool& on, std::string& error);
// A trigger source by its name.
bool ParseTriggerSource(const std::string& text, QX480TriggerMode& mode, std::string& error);

// A time in 10 ps counts; the error names it `what` ("delay '5ps' is ...").
bool ParseTimeWord(const std::string& text, const std::string& what, std::uint64_t& counts, std::string& error);
// A rate as its period in 4 ns ticks, with the rate asked for.
bool ParseRateWord(const std::string& text, std::uint32_t& ticks, double& requestedHz, std::string& error);

}  // namespace tool
}  // namespace qx480

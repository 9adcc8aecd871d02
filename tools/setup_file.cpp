#include "setup_file.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "arguments.h"
#include "json.h"
#include "units.h"

namespace qx480 {
namespace tool {
namespace {

namespace fs = std::filesystem;

// Larger than any setup; a file beyond it is not one.
constexpr std::uintmax_t MAX_SETUP_BYTES = 1 << 20;

const char* const SAVED_NOTE =
    "written by qx480 save: the delays, widths and trigger rate the device reports; the device does not report the "
    "output, the trigger source or the channels' on/off, so this file leaves them as they are";

// "a string", "an object": what a value is, for messages.
std::string TypeName(const Json& value) {
    if (value.is_object()) return "an object";
    if (value.is_array()) return "a list";
    if (value.is_string()) return "a string";
    if (value.is_boolean()) return "true or false";
    if (value.is_null()) return "null";
    return "a number";
}

// Remembers the first key given twice in one object while the parser reads.
class DuplicateKeys {
public:
    bool operator()(int, Json::parse_event_t event, const Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
            case Json::parse_event_t::array_start: m_levels.push_back({}); break;
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end: m_levels.pop_back(); break;
            case Json::parse_event_t::key: Key(parsed.get<std::string>()); break;
            case Json::parse_event_t::value: break;
        }
        return true;
    }
    // The dotted path of the first key given twice; empty for none.
    const std::string& First() const { return m_first; }

private:
    struct Level {
        std::set<std::string> keys;
        std::string current;
    };
    void Key(const std::string& key) {
        Level& level = m_levels.back();
        level.current = key;
        if (level.keys.insert(key).second || !m_first.empty()) return;
        for (const Level& l : m_levels) m_first += (m_first.empty() ? "" : ".") + l.current;
    }
    std::vector<Level> m_levels;
    std::string m_first;
};

// Checks a parsed setup key by key; the first fault ends the check.
class Checker {
public:
    Checker(const std::string& file, Setup& setup, std::string& error) : m_file(file), m_setup(setup), m_error(error) {}

    bool Check(const Json& root) {
        if (!root.is_object()) return Fail("", "a setup file holds one JSON object, not " + TypeName(root));
        if (!Version(root)) return false;
        for (const auto& item : root.items()) {
            if (!TopLevelKey(item.key(), item.value())) return false;
        }
        return true;
    }

private:
    bool Fail(const std::string& key, const std::string& what) {
        m_error = m_file + ": " + (key.empty() ? "" : key + ": ") + what;
        return false;
    }

    bool WrongType(const std::string& key, const std::string& wanted, const Json& value) {
        return Fail(key, "must be " + wanted + ", not " + TypeName(value));
    }

    bool Version(const Json& root) {
        const auto it = root.find("qx480_setup");
        if (it == root.end()) {
            return Fail("qx480_setup", "missing: a setup file starts with {\"qx480_setup\": 1");
        }
        if (!it->is_number_integer()) return WrongType("qx480_setup", "the version number 1", *it);
        if (*it != SETUP_VERSION) {
            return Fail("qx480_setup", "version " + it->dump() + " is not known: this qx480 reads version " +
                                           std::to_string(SETUP_VERSION));
        }
        return true;
    }

    bool TopLevelKey(const std::string& key, const Json& value) {
        if (key == "qx480_setup") return true;
        if (key == "note") return value.is_string() || WrongType(key, "a string", value);
        if (key == "output") return Boolean(key, value, m_setup.output);
        if (key == "trigger") return Trigger(value);
        if (key == "channels") return Channels(value);
        return Fail(key, "unknown key (a setup has qx480_setup, note, output, trigger and channels)");
    }

    bool Boolean(const std::string& key, const Json& value, std::optional<bool>& out) {
        if (!value.is_boolean()) return WrongType(key, "true or false", value);
        out = value.get<bool>();
        return true;
    }

    bool Word(const std::string& key, const Json& value, const char* example, std::string& word) {
        if (!value.is_string()) return WrongType(key, std::string("a string such as ") + example, value);
        word = value.get<std::string>();
        return true;
    }

    bool Trigger(const Json& trigger) {
        if (!trigger.is_object()) return WrongType("trigger", "an object", trigger);
        for (const auto& item : trigger.items()) {
            const std::string key = "trigger." + item.key();
            if (item.key() == "source") {
                if (!Source(key, item.value())) return false;
            } else if (item.key() == "rate") {
                if (!Rate(key, item.value())) return false;
            } else {
                return Fail(key, "unknown key (a trigger has source and rate)");
            }
        }
        return true;
    }

    bool Source(const std::string& key, const Json& value) {
        std::string word, error;
        if (!Word(key, value, "\"internal\"", word)) return false;
        QX480TriggerMode mode;
        if (!ParseTriggerSource(word, mode, error)) return Fail(key, error);
        m_setup.source = mode;
        return true;
    }

    bool Rate(const std::string& key, const Json& value) {
        std::string word;
        if (!Word(key, value, "\"1kHz\"", word)) return false;
        std::uint32_t ticks;
        const units::UnitError e = units::ParseRate(word, ticks, m_setup.requestedHz);
        if (e != units::UnitError::None) return Fail(key, units::RateRefusal(e, word));
        m_setup.ticks = ticks;
        return true;
    }

    bool Channels(const Json& channels) {
        if (!channels.is_object()) return WrongType("channels", "an object", channels);
        for (const auto& item : channels.items()) {
            int channel = 0;
            if (!ChannelKey(item.key(), channel)) return false;
            if (!Channel("channels." + item.key(), item.value(), m_setup.channels[ChannelIndex(channel)])) {
                return false;
            }
        }
        return true;
    }

    bool ChannelKey(const std::string& key, int& channel) {
        const std::string path = "channels." + key;
        long long value;
        if (!ParseWhole(key, INT32_MAX, value)) return Fail(path, "not a channel: name channels \"1\" to \"8\"");
        if (!IsChannel(static_cast<int>(value))) return Fail(path, "channel outside 1 to 8");
        if (key != std::to_string(value)) return Fail(path, "write the channel as \"" + std::to_string(value) + "\"");
        channel = static_cast<int>(value);
        return true;
    }

    bool Channel(const std::string& path, const Json& value, ChannelSetup& out) {
        if (!value.is_object()) return WrongType(path, "an object", value);
        for (const auto& item : value.items()) {
            const std::string key = path + "." + item.key();
            if (item.key() == "delay") {
                if (!Time(key, item.value(), out.delay)) return false;
            } else if (item.key() == "width") {
                if (!Time(key, item.value(), out.width)) return false;
            } else if (item.key() == "on") {
                if (!Boolean(key, item.value(), out.on)) return false;
            } else {
                return Fail(key, "unknown key (a channel has delay, width and on)");
            }
        }
        return true;
    }

    bool Time(const std::string& key, const Json& value, std::optional<std::uint64_t>& out) {
        std::string word;
        if (!Word(key, value, "\"10ns\"", word)) return false;
        std::uint64_t counts;
        const units::UnitError e = units::ParseTime(word, counts);
        if (e != units::UnitError::None) return Fail(key, units::TimeRefusal(e, word));
        out = counts;
        return true;
    }

    const std::string& m_file;
    Setup& m_setup;
    std::string& m_error;
};

// "[json.exception.parse_error.101] parse error at line 1, ..." -> "parse error at line 1, ...".
std::string ParseErrorText(const nlohmann::json::parse_error& e) {
    const std::string text = e.what();
    const std::size_t start = text.find("] ");
    return start == std::string::npos ? text : text.substr(start + 2);
}

bool ReadWhole(const std::string& path, std::string& text, std::string& error) {
    const fs::path where = fs::u8path(path);
    std::error_code ec;
    const fs::file_status status = fs::status(where, ec);
    if (!fs::exists(status)) {
        error = path + ": no such file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = path + ": not a file";
        return false;
    }
    if (fs::file_size(where, ec) > MAX_SETUP_BYTES) {
        error = path + ": too large for a setup file (over 1 MB)";
        return false;
    }
    std::ifstream in(where, std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    if (!in || in.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    text = whole.str();
    return true;
}

}  // namespace

bool Setup::SetsMoreThanOutput() const {
    if (source || ticks) return true;
    for (const ChannelSetup& c : channels) {
        if (c.delay || c.width || c.on) return true;
    }
    return false;
}

std::vector<std::string> Setup::UnreportedKeys() const {
    std::vector<std::string> keys;
    if (output) keys.push_back("output");
    if (source) keys.push_back("trigger.source");
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        if (channels[ChannelIndex(ch)].on) keys.push_back("channels." + std::to_string(ch) + ".on");
    }
    return keys;
}

bool ParseSetup(const std::string& text, const std::string& file, Setup& setup, std::string& error) {
    DuplicateKeys duplicates;
    Json root;
    try {
        root = Json::parse(text, std::ref(duplicates));
    } catch (const nlohmann::json::parse_error& e) {
        error = file + ": not JSON: " + ParseErrorText(e);
        return false;
    }
    if (!duplicates.First().empty()) {
        error = file + ": " + duplicates.First() + ": given twice";
        return false;
    }
    Setup checked;
    if (!Checker(file, checked, error).Check(root)) return false;
    setup = checked;
    return true;
}

bool ReadSetupFile(const std::string& path, Setup& setup, std::string& error) {
    std::string text;
    return ReadWhole(path, text, error) && ParseSetup(text, path, setup, error);
}

std::string SavedSetupText(const timing::Block& block) {
    Json setup;
    setup["qx480_setup"] = SETUP_VERSION;
    setup["note"] = SAVED_NOTE;
    if (block.triggerTicks != 0) setup["trigger"]["rate"] = units::RateWord(block.triggerTicks);
    Json channels = Json::object();
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        const timing::ChannelCounts& c = block.channels[ChannelIndex(ch)];
        channels[std::to_string(ch)] = {{"delay", units::TimeWord(c.delay)}, {"width", units::TimeWord(c.width)}};
    }
    setup["channels"] = channels;
    return setup.dump(2) + "\n";
}

}  // namespace tool
}  // namespace qx480

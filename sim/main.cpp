// qx480-sim: a simulated QX480DDG on a pseudo-terminal, on a given tty or
// on a TCP port, until SIGINT or SIGTERM (Windows: Ctrl+C; TCP only);
// SIGUSR1 and SIGUSR2 move its temperature up and down.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "qx480.h"
#include "stop_signal.h"
#include "tcp_device_server.h"
#ifndef _WIN32
#include "simulated_device.h"
#endif

namespace {

using qx480::sim::Echo;
using qx480::sim::Options;
namespace timing = qx480::timing;

constexpr int EXIT_USAGE = 2;
constexpr const char* DEFAULT_LISTEN_HOST = "127.0.0.1";

struct Listen {
    bool wanted = false;
    std::string host = DEFAULT_LISTEN_HOST;
    std::uint16_t port = 0;
};

struct Config {
    Options options;
    std::string port;
    Listen listen;
    float temperatureStep = 1.0f;
    bool help = false;
    bool version = false;
};

using Setter = std::function<std::string(const std::string&)>;

// One command-line flag.
struct Flag {
    std::string name;
    std::string arg;  // what the value stands for; empty for a flag without a value
    std::string help;
    Setter set;              // what a good value looks like, or "" once set
    std::string alias = "";  // a short name ("-V"); empty for none
};

// A whole decimal number from 0 to `max`, nothing else.
bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v > max) return false;
    out = v;
    return true;
}

bool ParseFloat(const std::string& text, float& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    out = v;
    return true;
}

template <class T>
Setter Unsigned(T& target, unsigned long long max = std::numeric_limits<T>::max()) {
    return [&target, max](const std::string& text) -> std::string {
        unsigned long long v;
        if (!ParseUnsigned(text, max, v)) return "a whole number from 0 to " + std::to_string(max);
        target = static_cast<T>(v);
        return "";
    };
}

Setter Float(float& target) {
    return
        [&target](const std::string& text) -> std::string { return ParseFloat(text, target) ? "" : "a finite number"; };
}

// One count for every channel, or eight counts separated by commas, into
// that member of each channel's entry.
Setter Counts(timing::Block& block, std::uint64_t timing::ChannelCounts::*member) {
    return [&block, member](const std::string& text) -> std::string {
        const char* expected = "one count or eight comma-separated counts";
        std::vector<std::uint64_t> values;
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = text.find(',', from);
            unsigned long long v;
            if (!ParseUnsigned(text.substr(from, comma - from), UINT64_MAX, v)) return expected;
            values.push_back(v);
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
        if (values.size() != 1 && values.size() != block.channels.size()) return expected;
        for (std::size_t i = 0; i < block.channels.size(); ++i) {
            block.channels[i].*member = values[values.size() == 1 ? 0 : i];
        }
        return "";
    };
}

constexpr struct {
    const char* name;
    Echo mode;
} ECHO_MODES[] = {{"off", Echo::Off}, {"loopback", Echo::Loopback}, {"local", Echo::LocalEcho}};

Setter EchoMode(Echo& target) {
    return [&target](const std::string& text) -> std::string {
        for (const auto& mode : ECHO_MODES) {
            if (text == mode.name) {
                target = mode.mode;
                return "";
            }
        }
        return "off, loopback or local";
    };
}

Setter Text(std::string& target) {
    return [&target](const std::string& text) -> std::string {
        target = text;
        return text.empty() ? "a path" : "";
    };
}

// "[HOST:]PORT", HOST a numeric address ("[::1]" for IPv6), PORT 0 for a free one.
Setter ListenAddress(Listen& target) {
    return [&target](const std::string& text) -> std::string {
        const char* expected = "[HOST:]PORT (PORT from 0 to 65535; HOST an address, [::1] for IPv6)";
        std::string host = DEFAULT_LISTEN_HOST;
        std::string port = text;
        const std::size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
            if (host.empty()) return expected;
        }
        unsigned long long number;
        if (!ParseUnsigned(port, 65535, number)) return expected;
        target = {true, host, static_cast<std::uint16_t>(number)};
        return "";
    };
}

Setter Set(bool& target) {
    return [&target](const std::string&) -> std::string {
        target = true;
        return "";
    };
}

// " (value)": a default as the help shows it, the shortest text that reads back the same.
template <class T>
std::string Default(T value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return " (" + std::string(text, end) + ")";
}

// How the help calls a device-wide integer of `size` bytes.
const char* IntegerNoun(std::size_t size) { return size == 1 ? "byte" : size == 2 ? "word" : "double word"; }

std::string BlockFieldHelp(const char* noun, int offset) {
    return std::string("timing block ") + noun + " at " + std::to_string(offset);
}

// The flag for one device-wide field of `block`, by the field's type.
struct DeviceFieldFlag {
    timing::Block& block;
    const timing::DeviceField& field;

    template <class T>
    Flag operator()(T timing::Block::*member) const {
        return Make("N", IntegerNoun(sizeof(T)), Unsigned(block.*member));
    }
    Flag operator()(float timing::Block::*member) const { return Make("VALUE", "single", Float(block.*member)); }

    Flag Make(const char* arg, const char* noun, Setter set) const {
        return {std::string("--") + field.name, arg, BlockFieldHelp(noun, field.offset), std::move(set)};
    }
};

// A flag for each field of the block that no command sets, in the block's
// order; the first per-channel one explains how its value is written.
std::vector<Flag> BlockFieldFlags(timing::Block& block) {
    std::vector<std::pair<int, Flag>> flags;
    for (const timing::DeviceField& field : timing::DEVICE_FIELDS) {
        if (field.setByCommand) continue;
        flags.push_back({field.offset, std::visit(DeviceFieldFlag{block, field}, field.member)});
    }
    std::string firstPerChannel;
    for (const timing::ChannelField& field : timing::CHANNEL_FIELDS) {
        if (field.setByCommand) continue;
        const std::string name = std::string("--") + field.name;
        const std::string form =
            firstPerChannel.empty() ? ": one for all channels or eight, comma-separated" : ", as " + firstPerChannel;
        if (firstPerChannel.empty()) firstPerChannel = name;
        flags.push_back({field.offset,
                         {name, "COUNTS", BlockFieldHelp("times", field.offset) + form, Counts(block, field.member)}});
    }
    std::stable_sort(flags.begin(), flags.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Flag> ordered;
    for (auto& flag : flags) ordered.push_back(std::move(flag.second));
    return ordered;
}

std::vector<Flag> Flags(Config& c) {
    const Options defaults;
    auto& s = c.options.state;
    auto& l = c.options.limits;
    auto& f = c.options.faults;
    constexpr unsigned long long INT_LIMIT = std::numeric_limits<int>::max();
    std::vector<Flag> flags{
        {"--listen", "[HOST:]PORT",
         "serve over raw TCP on HOST (127.0.0.1) and PORT (0: a free one); prints the socket:// URL",
         ListenAddress(c.listen)},
        {"--port", "PATH", "serve this existing terminal instead of a new pseudo-terminal", Text(c.port)},
        {"--link", "PATH", "also make a symlink PATH to the new pseudo-terminal", Text(c.options.linkPath)},
        {"--trace", "", "print each frame received and sent, in hex, on standard error", Set(c.options.trace)},
        {"--pace", "BAUD", "take and send bytes no faster than a line at BAUD (10 bits a byte)",
         Unsigned(c.options.paceBaud, INT_LIMIT)},
        {"--temp", "CELSIUS", "the temperature READ_TEMP reports" + Default(defaults.state.temperature),
         Float(s.temperature)},
        {"--temp-drift", "", "let the temperature wander within 1 degree", Set(c.options.temperatureDrift)},
        {"--temp-step", "CELSIUS",
         "what SIGUSR1 adds to the temperature and SIGUSR2 takes from it" + Default(Config().temperatureStep),
         Float(c.temperatureStep)},
        {"--max-delay", "COUNTS", "longest delay accepted, in 10 ps counts" + Default(defaults.limits.maxDelayCounts),
         Unsigned(l.maxDelayCounts)},
        {"--max-width", "COUNTS",
         "longest pulse width accepted, in 10 ps counts" + Default(defaults.limits.maxWidthCounts),
         Unsigned(l.maxWidthCounts)},
        {"--min-period", "TICKS",
         "shortest trigger period accepted, in 4 ns ticks" + Default(defaults.limits.minTriggerTicks),
         Unsigned(l.minTriggerTicks)},
        {"--max-period", "TICKS",
         "longest trigger period accepted, in 4 ns ticks" + Default(defaults.limits.maxTriggerTicks),
         Unsigned(l.maxTriggerTicks)},
    };
    for (Flag& flag : BlockFieldFlags(s.block)) flags.push_back(std::move(flag));
    const std::vector<Flag> faultFlags{
        {"--stray", "N", "send N junk bytes before each response", Unsigned(f.strayBytes, qx480::sim::MAX_STRAY_BYTES)},
        {"--pieces", "N", "cut each response into N pieces", Unsigned(f.pieces, INT_LIMIT)},
        {"--piece-gap", "MS", "pause between the pieces", Unsigned(f.pieceGapMs, INT_LIMIT)},
        {"--answer-delay", "MS", "pause before each answer", Unsigned(f.answerDelayMs, INT_LIMIT)},
        {"--drop-every", "N", "leave every Nth request unanswered (and not carried out)",
         Unsigned(f.dropEvery, INT_LIMIT)},
        {"--corrupt-every", "N", "spoil the checksum of every Nth response", Unsigned(f.corruptEvery, INT_LIMIT)},
        {"--short-length", "", "send every response with a length field below 6", Set(f.shortLength)},
        {"--hang-up-after", "N", "close the line after the Nth request", Unsigned(f.hangUpAfter, INT_LIMIT)},
        {"--foreign-frames", "N", "send N answers to other commands (late answers) before each response",
         Unsigned(f.foreignFrames, qx480::sim::MAX_FOREIGN_FRAMES)},
        {"--echo", "MODE", "off, loopback (all bytes come back, nothing answers) or local (requests come back first)",
         EchoMode(f.echo)},
        {"--version", "", "print the version and exit", Set(c.version), "-V"},
        {"--help", "", "print this help and exit", Set(c.help)},
    };
    flags.insert(flags.end(), faultFlags.begin(), faultFlags.end());
    return flags;
}

void PrintUsage(const std::vector<Flag>& flags) {
    std::printf(
        "Usage: qx480-sim [OPTION]...\n"
        "Simulates a QX480DDG on a new pseudo-terminal (or with --listen on a TCP port,\n"
        "the only way on Windows) and prints the path or URL a host opens;\n"
        "runs until Ctrl+C or SIGTERM. On POSIX, SIGUSR1 raises the temperature by\n"
        "--temp-step and SIGUSR2 lowers it; each change prints \"temperature CELSIUS\".\n"
        "Defaults in parentheses.\n\n");
    for (const Flag& flag : flags) {
        const std::string lhs =
            flag.name + (flag.arg.empty() ? "" : " " + flag.arg) + (flag.alias.empty() ? "" : ", " + flag.alias);
        std::printf("  %-22s %s\n", lhs.c_str(), flag.help.c_str());
    }
}

const Flag* Find(const std::vector<Flag>& flags, const std::string& name) {
    for (const Flag& flag : flags) {
        if (name == flag.name || (!flag.alias.empty() && name == flag.alias)) return &flag;
    }
    return nullptr;
}

// Fills `config`; on bad input returns false with one line in `error`.
bool Parse(int argc, char** argv, Config& config, std::string& error) {
    const std::vector<Flag> flags = Flags(config);
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        const std::size_t eq = name.find('=');
        const bool inlineValue = name.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        const Flag* flag = Find(flags, name);
        if (!flag) {
            error =
                name.compare(0, 1, "-") == 0 ? "unknown option '" + name + "'" : "unexpected argument '" + name + "'";
            return false;
        }
        if (flag->arg.empty() && inlineValue) {
            error = name + " takes no value";
            return false;
        }
        if (!flag->arg.empty() && !inlineValue) {
            if (i + 1 >= argc) {
                error = name + " needs a value (" + flag->arg + ")";
                return false;
            }
            value = argv[++i];
        }
        const std::string expected = flag->set(value);
        if (!expected.empty()) {
            error = name + ": '" + value + "' is not " + expected;
            return false;
        }
    }
    if (!config.port.empty() && !config.options.linkPath.empty()) {
        error = "--link cannot be used with --port";
        return false;
    }
    if (config.listen.wanted && (!config.port.empty() || !config.options.linkPath.empty())) {
        error = "--listen cannot be used with --port or --link";
        return false;
    }
    if (config.listen.wanted && config.options.paceBaud > 0) {
        error = "--pace paces a serial line: it cannot be used with --listen";
        return false;
    }
#ifdef _WIN32
    if (!config.listen.wanted) {
        error = "on Windows the simulated device serves TCP only: give --listen [HOST:]PORT (0: a free port)";
        return false;
    }
#endif
    if (!qx480::sim::Valid(config.options.limits)) {
        error = "--min-period is above --max-period";
        return false;
    }
    return true;
}

// Moves the temperature of `sim` by `step` each time a temperature signal
// asks, and prints what it is now.
template <class Device>
std::function<void(int)> TemperatureSteps(Device& sim, float step) {
    return [&sim, step](int direction) {
        const float now = sim.ShiftTemperature(static_cast<float>(direction) * step);
        std::printf("temperature %.9g\n", static_cast<double>(now));
        std::fflush(stdout);
    };
}

// Serves the device on TCP until a stop signal.
int ServeTcp(const Config& config) {
    qx480::sim::TcpDeviceServer sim(config.options);
    if (!sim.Start(config.listen.host, config.listen.port)) {
        std::fprintf(stderr, "qx480-sim: %s\n", sim.Error().c_str());
        return EXIT_FAILURE;
    }
    std::printf("%s\n", sim.Url().c_str());
    std::fflush(stdout);
    qx480::sim::WaitForStopSignal([&sim] { return sim.Running(); }, TemperatureSteps(sim, config.temperatureStep));
    sim.Stop();
    return EXIT_SUCCESS;
}

#ifndef _WIN32
// Serves the device on a pseudo-terminal or a given tty until a stop signal or the loss of the line.
int ServeTty(const Config& config) {
    qx480::sim::SimulatedDevice sim(config.options);
    const bool started = config.port.empty() ? sim.Start() : sim.ServeTty(config.port);
    if (!started) {
        std::fprintf(stderr, "qx480-sim: %s\n", sim.Error().c_str());
        return EXIT_FAILURE;
    }
    std::printf("%s\n", sim.Path().c_str());
    std::fflush(stdout);

    if (qx480::sim::WaitForStopSignal([&sim] { return sim.Running(); },
                                      TemperatureSteps(sim, config.temperatureStep))) {
        sim.Stop();
        return EXIT_SUCCESS;
    }
    sim.Stop();
    if (sim.HungUp()) {
        std::fprintf(stderr, "qx480-sim: hung up after %zu requests, as asked\n", sim.RequestCount());
        return EXIT_SUCCESS;
    }
    std::fprintf(stderr, "qx480-sim: lost the line %s\n", sim.Path().c_str());
    return EXIT_FAILURE;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    Config config;
    std::string error;
    if (!Parse(argc, argv, config, error)) {
        std::fprintf(stderr, "qx480-sim: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    if (config.help) {
        PrintUsage(Flags(config));
        return EXIT_SUCCESS;
    }
    if (config.version) {
        std::printf("qx480-sim %s\n", qx480_version());
        return EXIT_SUCCESS;
    }
    config.options.keepRequestLog = false;  // runs for as long as wanted: keep no history

    qx480::sim::CatchStopSignals();  // before the device thread starts
#ifdef _WIN32
    return ServeTcp(config);
#else
    return config.listen.wanted ? ServeTcp(config) : ServeTty(config);
#endif
}

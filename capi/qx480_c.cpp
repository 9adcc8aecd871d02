// The C interface over QX480DDG: handles, status codes, times in seconds.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <variant>

#include "qx480.h"
#include "qx480ddg.h"
#include "units.h"

struct qx480_device {
    QX480DDG device;
    // Serializes the calls on one handle.
    std::mutex mutex;
};

namespace {

std::int32_t CodeOf(const QX480Outcome& outcome) { return QX480StatusRowOf(outcome.status).code; }

constexpr const char* UNKNOWN_NAME = "QX480_UNKNOWN_STATUS";
constexpr const char* UNKNOWN_SENTENCE = "The value is not a qx480 status code.";

// Runs `body`, turning any exception into a status.
template <class Body>
std::int32_t Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return QX480_ERR_MEMORY;
    } catch (...) {
        return QX480_ERR_INTERNAL;
    }
}

// Runs `call(device, outcome)` on the handle's device, one call at a time.
template <class Call>
std::int32_t OnDevice(qx480_device* dev, Call call) noexcept {
    if (dev == nullptr) return QX480_ERR_ARGUMENT;
    return Guarded([&] {
        const std::lock_guard<std::mutex> lock(dev->mutex);
        QX480Outcome outcome;
        call(dev->device, outcome);
        return CodeOf(outcome);
    });
}

constexpr double COUNTS_PER_SECOND = qx480::units::COUNTS_PER_NS * qx480::units::NS_PER_SECOND;

double CountsToSeconds(std::uint64_t counts) { return static_cast<double>(counts) / COUNTS_PER_SECOND; }

using CountsSetter = bool (QX480DDG::*)(int channel, std::uint64_t counts, QX480Outcome& outcome);

std::int32_t SetCounts(qx480_device* dev, std::int32_t channel, std::uint64_t counts, CountsSetter set) noexcept {
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { (d.*set)(channel, counts, o); });
}

std::int32_t SetTime(qx480_device* dev, std::int32_t channel, double seconds, CountsSetter set) noexcept {
    std::uint64_t counts;
    if (qx480::units::SecondsToCounts(seconds, counts) != qx480::units::UnitError::None) return QX480_ERR_ARGUMENT;
    return SetCounts(dev, channel, counts, set);
}

// Where each field of the timing block goes in the C structs, in the order
// of DEVICE_FIELDS and CHANNEL_FIELDS.
struct CDeviceField {
    const char* name;
    std::variant<std::uint32_t qx480_timing::*, float qx480_timing::*> member;
};
constexpr CDeviceField C_DEVICE_FIELDS[] = {
    {"word128", &qx480_timing::word128}, {"byte130", &qx480_timing::byte130},
    {"byte131", &qx480_timing::byte131}, {"triggerTicks", &qx480_timing::trigger_ticks},
    {"byte136", &qx480_timing::byte136}, {"byte137", &qx480_timing::byte137},
    {"word138", &qx480_timing::word138}, {"float276", &qx480_timing::float276},
};
static_assert(qx480::timing::SameNames(C_DEVICE_FIELDS, qx480::timing::DEVICE_FIELDS), "one C member per field");

struct CChannelField {
    const char* name;
    std::uint64_t qx480_channel_timing::*counts;
    double qx480_channel_timing::*seconds;
};
constexpr CChannelField C_CHANNEL_FIELDS[] = {
    {"delay", &qx480_channel_timing::delay_counts, &qx480_channel_timing::delay_s},
    {"width", &qx480_channel_timing::width_counts, &qx480_channel_timing::width_s},
    {"time140", &qx480_channel_timing::time140_counts, &qx480_channel_timing::time140_s},
    {"time204", &qx480_channel_timing::time204_counts, &qx480_channel_timing::time204_s},
};
static_assert(qx480::timing::SameNames(C_CHANNEL_FIELDS, qx480::timing::CHANNEL_FIELDS), "two C members per field");

qx480_timing Timing(const qx480::timing::Block& block) {
    using qx480::timing::CHANNEL_FIELDS;
    using qx480::timing::DEVICE_FIELDS;
    qx480_timing t{};
    t.size = sizeof t;
    t.trigger_hz = qx480::units::WireToFrequency(block.triggerTicks);
    for (std::size_t i = 0; i < std::size(DEVICE_FIELDS); ++i) {
        std::visit([&](auto to, auto from) { t.*to = static_cast<std::decay_t<decltype(t.*to)>>(block.*from); },
                   C_DEVICE_FIELDS[i].member, DEVICE_FIELDS[i].member);
    }
    for (std::size_t ch = 0; ch < block.channels.size(); ++ch) {
        for (std::size_t i = 0; i < std::size(CHANNEL_FIELDS); ++i) {
            const std::uint64_t counts = block.channels[ch].*CHANNEL_FIELDS[i].member;
            t.channels[ch].*C_CHANNEL_FIELDS[i].counts = counts;
            t.channels[ch].*C_CHANNEL_FIELDS[i].seconds = CountsToSeconds(counts);
        }
    }
    return t;
}

// The caller's struct may be older and smaller than ours, never larger.
bool TimingSizeKnown(std::uint32_t size) { return size >= sizeof(std::uint32_t) && size <= sizeof(qx480_timing); }

// Copies all but the size field, as far as the caller's struct reaches.
void CopyTiming(const qx480_timing& from, qx480_timing* to) {
    constexpr std::size_t head = sizeof from.size;
    std::memcpy(reinterpret_cast<unsigned char*>(to) + head, reinterpret_cast<const unsigned char*>(&from) + head,
                to->size - head);
}

// Copies `text` into the caller's `out` of `size` bytes, cut to fit at a
// character boundary and always NUL-terminated; nothing for size 0 or NULL.
void CopyText(const std::string& text, char* out, std::int32_t size) {
    if (out == nullptr || size <= 0) return;
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    // A UTF-8 continuation byte (10xxxxxx) at the cut would split a character.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// `text` whole into the caller's `out` of `size` bytes, NUL-terminated: OK;
// ARGUMENT, with nothing written, when it does not fit.
std::int32_t CopyWhole(const std::string& text, char* out, std::int32_t size) {
    if (out == nullptr || size <= 0 || text.size() >= static_cast<std::size_t>(size)) return QX480_ERR_ARGUMENT;
    CopyText(text, out, size);
    return QX480_OK;
}

// OK with an empty message, or ARGUMENT with `refusal` as the message.
std::int32_t Verdict(qx480::units::UnitError error, const std::string& refusal, char* message, std::int32_t size) {
    const bool ok = error == qx480::units::UnitError::None;
    CopyText(ok ? std::string() : refusal, message, size);
    return ok ? QX480_OK : QX480_ERR_ARGUMENT;
}

// Indexed by QX480FrameDirection.
constexpr std::int32_t TRACE_DIRECTION[] = {QX480_TRACE_SENT, QX480_TRACE_RECEIVED, QX480_TRACE_DROPPED};

}  // namespace

extern "C" {

const char* qx480_version(void) { return QX480_VERSION; }

const char* qx480_status_name(std::int32_t status) {
    const QX480StatusRow* row = QX480StatusRowOfCode(status);
    return row != nullptr ? row->name : UNKNOWN_NAME;
}

const char* qx480_status_text(std::int32_t status) {
    const QX480StatusRow* row = QX480StatusRowOfCode(status);
    return row != nullptr ? row->sentence : UNKNOWN_SENTENCE;
}

std::int32_t qx480_failure_line(std::int32_t status, const char* port, const char* what, std::int32_t baud, char* out,
                                std::int32_t out_size) {
    if (port == nullptr || out == nullptr || out_size <= 0) return QX480_ERR_ARGUMENT;
    return Guarded([&] {
        const QX480StatusRow* row = QX480StatusRowOfCode(status);
        const std::string step = what != nullptr ? what : QX480_OPEN_STEP;
        const std::string line =
            row != nullptr ? QX480FailureLine(row->status, port, step, baud)
                           : step + " on " + port + " ended with " + std::to_string(status) + ": " + UNKNOWN_SENTENCE;
        CopyText(line, out, out_size);
        return QX480_OK;
    });
}

std::int32_t qx480_parse_time(const char* text, std::uint64_t* counts_10ps, char* message, std::int32_t message_size) {
    return Guarded([&] {
        if (text == nullptr)
            return Verdict(qx480::units::UnitError::NotANumber, "no text was given", message, message_size);
        std::uint64_t counts = 0;
        const qx480::units::UnitError e = qx480::units::ParseTime(text, counts);
        if (e == qx480::units::UnitError::None && counts_10ps != nullptr) *counts_10ps = counts;
        return Verdict(e, e == qx480::units::UnitError::None ? "" : qx480::units::TimeRefusal(e, text), message,
                       message_size);
    });
}

std::int32_t qx480_parse_rate(const char* text, std::uint32_t* ticks, double* programmed_hz, char* message,
                              std::int32_t message_size) {
    return Guarded([&] {
        if (text == nullptr)
            return Verdict(qx480::units::UnitError::NotANumber, "no text was given", message, message_size);
        std::uint32_t period = 0;
        const qx480::units::UnitError e = qx480::units::ParseRate(text, period);
        if (e == qx480::units::UnitError::None) {
            if (ticks != nullptr) *ticks = period;
            if (programmed_hz != nullptr) *programmed_hz = qx480::units::WireToFrequency(period);
        }
        return Verdict(e, e == qx480::units::UnitError::None ? "" : qx480::units::RateRefusal(e, text), message,
                       message_size);
    });
}

std::int32_t qx480_seconds_to_counts(double seconds, std::uint64_t* counts_10ps, char* message,
                                     std::int32_t message_size) {
    return Guarded([&] {
        std::uint64_t counts = 0;
        const qx480::units::UnitError e = qx480::units::SecondsToCounts(seconds, counts);
        if (e == qx480::units::UnitError::None && counts_10ps != nullptr) *counts_10ps = counts;
        return Verdict(e, e == qx480::units::UnitError::None ? "" : qx480::units::SecondsRefusal(e, seconds), message,
                       message_size);
    });
}

std::int32_t qx480_format_time(std::uint64_t counts_10ps, char* out, std::int32_t out_size) {
    return Guarded([&] { return CopyWhole(qx480::units::FormatTime(counts_10ps), out, out_size); });
}

std::int32_t qx480_describe_period(std::uint32_t ticks, double* hz, char* out, std::int32_t out_size) {
    return Guarded([&] {
        const std::int32_t status = CopyWhole(qx480::units::RateText(ticks), out, out_size);
        if (status == QX480_OK && hz != nullptr) *hz = qx480::units::WireToFrequency(ticks);
        return status;
    });
}

std::int32_t qx480_open(const char* port_utf8, std::int32_t baud, qx480_device** out) {
    return qx480_open_message(port_utf8, baud, out, nullptr, 0);
}

std::int32_t qx480_open_message(const char* port_utf8, std::int32_t baud, qx480_device** out, char* message,
                                std::int32_t message_size) {
    if (out == nullptr || (message == nullptr && message_size > 0)) return QX480_ERR_ARGUMENT;
    *out = nullptr;
    if (port_utf8 == nullptr || baud <= 0) {
        CopyText(qx480_status_text(QX480_ERR_ARGUMENT), message, message_size);
        return QX480_ERR_ARGUMENT;
    }
    CopyText(std::string(), message, message_size);
    return Guarded([&] {
        auto dev = std::make_unique<qx480_device>();
        QX480Outcome outcome;
        if (!dev->device.Open(port_utf8, baud, outcome)) {
            CopyText(QX480FailureLine(outcome.status, port_utf8, QX480_OPEN_STEP, baud,
                                      dev->device.Port().OpenFailureDetail()),
                     message, message_size);
            return CodeOf(outcome);
        }
        *out = dev.release();
        return QX480_OK;
    });
}

void qx480_close(qx480_device* dev) { delete dev; }

std::int32_t qx480_set_trigger_source(qx480_device* dev, std::int32_t source) {
    if (source != QX480_TRIGGER_INTERNAL && source != QX480_TRIGGER_EXTERNAL && source != QX480_TRIGGER_SOFTWARE) {
        return QX480_ERR_ARGUMENT;
    }
    const auto mode = static_cast<QX480TriggerMode>(source);
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { d.SetTrigger(mode, o); });
}

std::int32_t qx480_set_trigger_rate(qx480_device* dev, double hz, double* programmed_hz) {
    std::uint32_t ticks = 0;
    // FrequencyToWire sends 0 ticks above 250 MHz; here that is refused.
    if (!qx480::units::FrequencyToWire(hz, ticks) || ticks == 0) return QX480_ERR_ARGUMENT;
    const std::int32_t status = qx480_set_trigger_ticks(dev, ticks);
    if (status == QX480_OK && programmed_hz != nullptr) *programmed_hz = qx480::units::WireToFrequency(ticks);
    return status;
}

std::int32_t qx480_set_trigger_ticks(qx480_device* dev, std::uint32_t ticks) {
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { d.SetTriggerPeriod(ticks, o); });
}

std::int32_t qx480_set_channel_output(qx480_device* dev, std::int32_t channel, std::int32_t on) {
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { d.SetOutputChannel(channel, on != 0, o); });
}

std::int32_t qx480_set_output(qx480_device* dev, std::int32_t on) {
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { d.SetGlobalOutput(on != 0, o); });
}

std::int32_t qx480_set_delay(qx480_device* dev, std::int32_t channel, double seconds) {
    return SetTime(dev, channel, seconds, &QX480DDG::SetDelayCounts);
}

std::int32_t qx480_set_width(qx480_device* dev, std::int32_t channel, double seconds) {
    return SetTime(dev, channel, seconds, &QX480DDG::SetPulseWidthCounts);
}

std::int32_t qx480_set_delay_counts(qx480_device* dev, std::int32_t channel, std::uint64_t counts_10ps) {
    return SetCounts(dev, channel, counts_10ps, &QX480DDG::SetDelayCounts);
}

std::int32_t qx480_set_width_counts(qx480_device* dev, std::int32_t channel, std::uint64_t counts_10ps) {
    return SetCounts(dev, channel, counts_10ps, &QX480DDG::SetPulseWidthCounts);
}

std::int32_t qx480_fire(qx480_device* dev) {
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { d.SoftwareTrigger(o); });
}

std::int32_t qx480_read_temperature(qx480_device* dev, float* celsius) {
    if (celsius == nullptr) return QX480_ERR_ARGUMENT;
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) { d.ReadTemperature(celsius, o); });
}

std::int32_t qx480_read_timing(qx480_device* dev, qx480_timing* out) {
    if (out == nullptr || !TimingSizeKnown(out->size)) return QX480_ERR_ARGUMENT;
    return OnDevice(dev, [&](QX480DDG& d, QX480Outcome& o) {
        qx480::timing::Block block;
        if (d.ReadTimingBlock(&block, o)) CopyTiming(Timing(block), out);
    });
}

std::int32_t qx480_set_trace(qx480_device* dev, qx480_trace_fn fn, void* user) {
    if (dev == nullptr) return QX480_ERR_ARGUMENT;
    return Guarded([&] {
        const std::lock_guard<std::mutex> lock(dev->mutex);
        if (fn == nullptr) {
            dev->device.SetFrameObserver(nullptr);
        } else {
            dev->device.SetFrameObserver([fn, user](QX480FrameDirection d, const std::uint8_t* frame, std::size_t n) {
                fn(user, TRACE_DIRECTION[static_cast<std::size_t>(d)], frame, static_cast<std::int32_t>(n));
            });
        }
        return QX480_OK;
    });
}

}  // extern "C"

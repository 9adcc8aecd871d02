// The two queries: the temperature and the timing block.
#include <cstddef>
#include <iterator>
#include <variant>

#include "outcome_detail.h"
#include "qx480ddg.h"

using qx480::detail::Conclude;
using qx480::detail::RefuseArgument;

namespace {

// A query's request carries option 0 and no parameters, and no device answers
// one that way: such an answer is the request itself, coming back.
bool IsOwnRequest(const QX480Frame& response) { return response.opt == qx480::option::NONE && response.pa.empty(); }

// Where each field of the timing block goes in QX480TimingConfig, in the
// order of DEVICE_FIELDS and CHANNEL_FIELDS. The trigger period is held as
// its rate, so it has no member of its own.
struct RecordDeviceField {
    const char* name;
    std::variant<std::nullptr_t, std::uint32_t QX480TimingConfig::*, float QX480TimingConfig::*> member;
};
constexpr RecordDeviceField RECORD_DEVICE_FIELDS[] = {
    {"word128", &QX480TimingConfig::word128}, {"byte130", &QX480TimingConfig::byte130},
    {"byte131", &QX480TimingConfig::byte131}, {"triggerTicks", nullptr},
    {"byte136", &QX480TimingConfig::byte136}, {"byte137", &QX480TimingConfig::byte137},
    {"word138", &QX480TimingConfig::word138}, {"float276", &QX480TimingConfig::float276},
};
static_assert(qx480::timing::SameNames(RECORD_DEVICE_FIELDS, qx480::timing::DEVICE_FIELDS), "one entry per field");

// Each channel field in whole nanoseconds.
struct RecordChannelField {
    const char* name;
    std::int64_t QX480TimingConfig::*ns;
};
constexpr RecordChannelField RECORD_CHANNEL_FIELDS[] = {
    {"delay", &QX480TimingConfig::delayNs},
    {"width", &QX480TimingConfig::widthNs},
    {"time140", &QX480TimingConfig::time140Ns},
    {"time204", &QX480TimingConfig::time204Ns},
};
static_assert(qx480::timing::SameNames(RECORD_CHANNEL_FIELDS, qx480::timing::CHANNEL_FIELDS), "one entry per field");

// Copies a block field into its record member; a field with no member is skipped.
template <class From>
void Store(QX480TimingConfig&, std::nullptr_t, const From&) {}
template <class To, class From>
void Store(QX480TimingConfig& c, To QX480TimingConfig::*to, const From& from) {
    c.*to = static_cast<To>(from);
}

}  // namespace

// True when a valid answer with at least `minimumPa` parameter bytes came
// back; its option word is not looked at.
bool QX480DDG::Query(QX480Command cmd, std::size_t minimumPa, QX480Frame& response, QX480Outcome& outcome) {
    if (!SendFrame(qx480::CommandCode(cmd), qx480::option::NONE, nullptr, 0, &response, TIMEOUT_MS, outcome)) {
        return false;
    }
    if (response.pa.size() >= minimumPa) return true;
    return Conclude(outcome, IsOwnRequest(response) ? QX480Status::Echo : QX480Status::ShortAnswer);
}

bool QX480DDG::ReadTemperature(float* celsius, QX480Outcome& outcome) {
    if (celsius == nullptr) return RefuseArgument(outcome, QX480Command::READ_TEMP);
    QX480Frame response;
    if (!Query(QX480Command::READ_TEMP, qx480::TEMPERATURE_SIZE, response, outcome)) return false;
    *celsius = response.ReadFloat(0);
    return true;
}

bool QX480DDG::ReadTimingBlock(qx480::timing::Block* block, QX480Outcome& outcome) {
    if (block == nullptr) return RefuseArgument(outcome, QX480Command::READ_TIMING);
    QX480Frame response;
    return Query(QX480Command::READ_TIMING, qx480::timing::BLOCK_SIZE, response, outcome) &&
           qx480::timing::Decode(response, *block);
}

bool QX480DDG::ReadTimingConfig(int channel, QX480TimingConfig* config, QX480Outcome& outcome) {
    if (config == nullptr || !qx480::IsChannel(channel)) {
        return RefuseArgument(outcome, QX480Command::READ_TIMING);
    }
    qx480::timing::Block block;
    if (!ReadTimingBlock(&block, outcome)) return false;
    using qx480::timing::CHANNEL_FIELDS;
    using qx480::timing::DEVICE_FIELDS;
    const qx480::timing::ChannelCounts& counts = block.channels[qx480::ChannelIndex(channel)];
    QX480TimingConfig c{};
    c.channel = channel;
    c.triggerFreqHz = qx480::units::WireToFrequency(block.triggerTicks);
    for (std::size_t i = 0; i < std::size(DEVICE_FIELDS); ++i) {
        std::visit([&](auto to, auto from) { Store(c, to, block.*from); }, RECORD_DEVICE_FIELDS[i].member,
                   DEVICE_FIELDS[i].member);
    }
    for (std::size_t i = 0; i < std::size(CHANNEL_FIELDS); ++i) {
        c.*RECORD_CHANNEL_FIELDS[i].ns = qx480::units::WireToTime(counts.*CHANNEL_FIELDS[i].member);
    }
    *config = c;
    return true;
}

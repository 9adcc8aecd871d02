#include "diagram.h"

#include <algorithm>
#include <sstream>

#include "units.h"

namespace qx480 {
namespace tool {
namespace {

constexpr char LOW = '_';
constexpr char HIGH = '#';
constexpr char PERIOD_MARK = '|';
// "ch 8 " before each row; the axis line starts below its end.
constexpr std::size_t LABEL_WIDTH = 5;

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

std::uint64_t PulseEnd(const timing::ChannelCounts& c) { return SaturatingAdd(c.delay, c.width); }

// Column spans in tenths of a power of ten: 1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6 and 8 times it.
constexpr std::uint64_t SPAN_TENTHS[] = {10, 12, 15, 20, 25, 30, 40, 50, 60, 80};

// The smallest round span of at least `needed` counts: below ten counts
// `needed` itself, else one of SPAN_TENTHS times a power of ten.
std::uint64_t RoundSpan(std::uint64_t needed) {
    if (needed <= 10) return needed;
    for (std::uint64_t power = 1;; power *= 10) {
        for (std::uint64_t tenths : SPAN_TENTHS) {
            if (tenths * power >= needed) return tenths * power;
        }
        if (power > UINT64_MAX / 1000) return needed;
    }
}

// The words of `text` in lines of at most `width` columns.
std::vector<std::string> Wrap(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::istringstream words(text);
    std::string line;
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// "3", "3 and 5", "1, 2 and 4".
std::string ChannelList(const std::vector<int>& channels) {
    std::string text;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i > 0) text += i + 1 == channels.size() ? " and " : ", ";
        text += std::to_string(channels[i]);
    }
    return text;
}

// The span per column that puts the trigger period and every pulse's end on an axis of `columns` columns.
std::uint64_t Needed(const timing::Block& block, std::uint64_t period, std::size_t columns) {
    std::uint64_t end = period;
    for (const timing::ChannelCounts& c : block.channels) end = std::max(end, PulseEnd(c));
    return std::max<std::uint64_t>(1, end / columns + (end % columns != 0));
}

DiagramGeometry::Pulse PulseColumns(const timing::ChannelCounts& c, std::uint64_t span, std::size_t columns) {
    DiagramGeometry::Pulse pulse;
    if (c.width == 0) return pulse;
    pulse.first = static_cast<std::size_t>(std::min<std::uint64_t>(c.delay / span, columns));
    pulse.last = static_cast<std::size_t>(std::min<std::uint64_t>((PulseEnd(c) - 1) / span, columns - 1));
    pulse.high = pulse.first <= pulse.last;
    return pulse;
}

class Drawing {
public:
    Drawing(const timing::Block& block, std::size_t width)
        : m_block(block), m_width(width), m_g(LayOutDiagram(block, width - LABEL_WIDTH - 1)) {}

    TimingDiagram Draw() {
        TimingDiagram d;
        for (const std::string& part : Header()) Add(d, part);
        d.lines.push_back(AxisLine());
        for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
            d.lines.push_back("ch " + std::to_string(ch) + " " + Row(m_g.pulses[ChannelIndex(ch)]));
        }
        d.pastPeriod = m_g.pastPeriod;
        if (m_g.period != 0) Add(d, Footer(d.pastPeriod));
        return d;
    }

private:
    void Add(TimingDiagram& d, const std::string& text) const {
        for (const std::string& line : Wrap(text, m_width)) d.lines.push_back(line);
    }

    // The period and the scale on one line when they fit, else on a line each.
    std::vector<std::string> Header() const {
        const std::string scale = "one column = " + units::FormatTime(m_g.span);
        const std::string period = m_g.period == 0
                                       ? "the device reports no trigger period"
                                       : "trigger period " + units::FormatTime(m_g.period) + " (" +
                                             units::FormatRate(units::WireToFrequency(m_block.triggerTicks)) +
                                             "), marked " + PERIOD_MARK;
        if (period.size() + 2 + scale.size() <= m_width) return {period + "; " + scale};
        return {period, scale};
    }

    static std::string Footer(const std::vector<int>& past) {
        if (past.empty()) return "every pulse ends within the trigger period";
        if (past.size() == 1) return "channel " + ChannelList(past) + " extends past the trigger period";
        return "channels " + ChannelList(past) + " extend past the trigger period";
    }

    std::string Row(const DiagramGeometry::Pulse& pulse) const {
        std::string row(m_g.columns, LOW);
        for (std::size_t i = pulse.first; pulse.high && i <= pulse.last; ++i) row[i] = HIGH;
        Mark(row);
        return row;
    }

    // The period mark in a row where the channel is low, or after the row's end.
    void Mark(std::string& row) const {
        const std::size_t at = m_g.periodColumn;
        if (at < m_g.columns && row[at] == LOW) row[at] = PERIOD_MARK;
        if (at == m_g.columns) row += PERIOD_MARK;
    }

    // "0" under the first column, the period's time beside its mark (unless
    // the period ends within the first column) and the axis's end at the
    // right, each where there is room.
    std::string AxisLine() const {
        std::string axis(m_g.columns + 1, ' ');
        axis[0] = '0';
        const std::size_t at = m_g.periodColumn;
        if (at > 0 && at <= m_g.columns) {
            axis[at] = PERIOD_MARK;
            const std::string period = units::FormatTime(m_g.period);
            if (!Place(axis, at + 1, period, 0, 1) && at >= period.size())
                Place(axis, at - period.size(), period, 1, 0);
        }
        const std::string end = units::FormatTime(m_g.axisEnd);
        if (end.size() < m_g.columns) Place(axis, m_g.columns - end.size(), end, 1, 0);
        axis.erase(axis.find_last_not_of(' ') + 1);
        return std::string(LABEL_WIDTH, ' ') + axis;
    }

    // Writes `text` at `at` when it fits in `line` and the cells it covers,
    // with `before` and `after` more around it, are blank.
    static bool Place(std::string& line, std::size_t at, const std::string& text, std::size_t before,
                      std::size_t after) {
        if (at < before || at + text.size() > line.size()) return false;
        const std::size_t to = std::min(line.size(), at + text.size() + after);
        for (std::size_t i = at - before; i < to; ++i) {
            if (line[i] != ' ') return false;
        }
        line.replace(at, text.size(), text);
        return true;
    }

    const timing::Block& m_block;
    const std::size_t m_width;
    const DiagramGeometry m_g;
};

}  // namespace

DiagramGeometry LayOutDiagram(const timing::Block& block, std::size_t columns) {
    DiagramGeometry g;
    g.columns = std::max<std::size_t>(1, columns);
    g.period = units::TicksToCounts(block.triggerTicks);
    g.span = RoundSpan(Needed(block, g.period, g.columns));
    g.axisEnd = SaturatingMultiply(g.span, g.columns);
    g.periodColumn = g.period == 0 ? g.columns + 1 : static_cast<std::size_t>(g.period / g.span);
    for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
        const timing::ChannelCounts& c = block.channels[ChannelIndex(ch)];
        g.pulses[ChannelIndex(ch)] = PulseColumns(c, g.span, g.columns);
        if (g.period != 0 && PulseEnd(c) > g.period) g.pastPeriod.push_back(ch);
    }
    return g;
}

TimingDiagram DrawDiagram(const timing::Block& block, std::size_t width) { return Drawing(block, width).Draw(); }

}  // namespace tool
}  // namespace qx480

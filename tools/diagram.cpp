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

class Drawing {
public:
    Drawing(const timing::Block& block, std::size_t width)
        : m_block(block),
          m_width(width),
          m_columns(width - LABEL_WIDTH - 1),
          m_period(units::TicksToCounts(block.triggerTicks)),
          m_span(RoundSpan(Needed())) {}

    TimingDiagram Draw() {
        TimingDiagram d;
        for (const std::string& part : Header()) Add(d, part);
        d.lines.push_back(AxisLine());
        for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
            d.lines.push_back("ch " + std::to_string(ch) + " " + Row(m_block.channels[ChannelIndex(ch)]));
            if (m_period != 0 && PulseEnd(m_block.channels[ChannelIndex(ch)]) > m_period) d.pastPeriod.push_back(ch);
        }
        if (m_period != 0) Add(d, Footer(d.pastPeriod));
        return d;
    }

private:
    // The span per column that puts the trigger period and every pulse's end on the axis.
    std::uint64_t Needed() const {
        std::uint64_t end = m_period;
        for (const timing::ChannelCounts& c : m_block.channels) end = std::max(end, PulseEnd(c));
        return std::max<std::uint64_t>(1, end / m_columns + (end % m_columns != 0));
    }

    void Add(TimingDiagram& d, const std::string& text) const {
        for (const std::string& line : Wrap(text, m_width)) d.lines.push_back(line);
    }

    // The period and the scale on one line when they fit, else on a line each.
    std::vector<std::string> Header() const {
        const std::string scale = "one column = " + units::FormatTime(m_span);
        const std::string period = m_period == 0 ? "the device reports no trigger period"
                                                 : "trigger period " + units::FormatTime(m_period) + " (" +
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

    // The column of the trigger period's end, at most m_columns; m_columns + 1 for none.
    std::size_t PeriodColumn() const {
        return m_period == 0 ? m_columns + 1 : static_cast<std::size_t>(m_period / m_span);
    }

    std::string Row(const timing::ChannelCounts& c) const {
        std::string row(m_columns, LOW);
        if (c.width != 0) {
            const std::size_t first = static_cast<std::size_t>(std::min<std::uint64_t>(c.delay / m_span, m_columns));
            const std::size_t last =
                static_cast<std::size_t>(std::min<std::uint64_t>((PulseEnd(c) - 1) / m_span, m_columns - 1));
            for (std::size_t i = first; i <= last && i < m_columns; ++i) row[i] = HIGH;
        }
        Mark(row);
        return row;
    }

    // The period mark in a row where the channel is low, or after the row's end.
    void Mark(std::string& row) const {
        const std::size_t at = PeriodColumn();
        if (at < m_columns && row[at] == LOW) row[at] = PERIOD_MARK;
        if (at == m_columns) row += PERIOD_MARK;
    }

    // "0" under the first column, the period's time beside its mark (unless
    // the period ends within the first column) and the axis's end at the
    // right, each where there is room.
    std::string AxisLine() const {
        std::string axis(m_columns + 1, ' ');
        axis[0] = '0';
        const std::size_t at = PeriodColumn();
        if (at > 0 && at <= m_columns) {
            axis[at] = PERIOD_MARK;
            const std::string period = units::FormatTime(m_period);
            if (!Place(axis, at + 1, period, 0, 1) && at >= period.size())
                Place(axis, at - period.size(), period, 1, 0);
        }
        const std::string end = units::FormatTime(SaturatingMultiply(m_span, m_columns));
        if (end.size() < m_columns) Place(axis, m_columns - end.size(), end, 1, 0);
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
    const std::size_t m_columns;
    const std::uint64_t m_period;
    const std::uint64_t m_span;
};

}  // namespace

TimingDiagram DrawDiagram(const timing::Block& block, std::size_t width) { return Drawing(block, width).Draw(); }

}  // namespace tool
}  // namespace qx480

#include "zk/engine/recording/range.hpp"

#include <charconv>
#include <map>
#include <utility>
#include <vector>

#include "zk/engine/recording/row_source.hpp"
#include "zk/engine/recording/time_text.hpp"

namespace zk {

namespace {

// Digits only, as a number (at most 12 digits).
std::optional<std::int64_t> digits(std::string_view text) noexcept {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// "ss" or "ss.s", "ss.ss", "ss.sss", below 60 s, in ms.
std::optional<std::int64_t> secondsField(std::string_view text) noexcept {
    const std::size_t point = text.find('.');
    const auto whole = digits(text.substr(0, point));
    if (!whole || text.substr(0, point).size() != 2 || *whole >= 60) {
        return std::nullopt;
    }
    std::int64_t ms = *whole * 1000;
    if (point != std::string_view::npos) {
        const std::string_view fraction = text.substr(point + 1);
        const auto value = digits(fraction);
        if (!value || fraction.size() > 3) {
            return std::nullopt;
        }
        ms += *value * (fraction.size() == 1 ? 100 : fraction.size() == 2 ? 10 : 1);
    }
    return ms;
}

}  // namespace

std::optional<RangeBound> parseRangeBound(std::string_view text) noexcept {
    if (text.starts_with("tag:")) {
        text.remove_prefix(4);
        const std::size_t hash = text.find('#');
        const auto number = digits(text.substr(0, hash));
        if (!number || *number > 65535) {
            return std::nullopt;
        }
        RangeBound bound{.tag = static_cast<std::uint16_t>(*number)};
        if (hash != std::string_view::npos) {
            const auto k = digits(text.substr(hash + 1));
            if (!k || *k < 1 || *k > UINT32_MAX) {
                return std::nullopt;
            }
            bound.occurrence = static_cast<std::uint32_t>(*k);
        }
        return bound;
    }
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos) {
        if (const auto ms = digits(text)) {
            return RangeBound{.timeMs = *ms};
        }
        return std::nullopt;
    }
    const std::size_t second = text.find(':', first + 1);
    const auto lead = digits(text.substr(0, first));
    if (!lead) {
        return std::nullopt;
    }
    if (second == std::string_view::npos) {  // mm:ss
        const auto seconds = secondsField(text.substr(first + 1));
        if (!seconds) {
            return std::nullopt;
        }
        return RangeBound{.timeMs = *lead * 60'000 + *seconds};
    }
    const std::string_view minutesText = text.substr(first + 1, second - first - 1);
    const auto minutes = digits(minutesText);
    const auto seconds = secondsField(text.substr(second + 1));
    if (!minutes || minutesText.size() != 2 || *minutes >= 60 || !seconds) {
        return std::nullopt;
    }
    return RangeBound{.timeMs = *lead * 3'600'000 + *minutes * 60'000 + *seconds};
}

Result<RowRange> resolveRange(ByteSource& source, const ExportOptions& options,
                              const std::optional<RangeBound>& from,
                              const std::optional<RangeBound>& to) {
    // The tags asked for, each with the occurrences wanted.
    std::map<std::uint16_t, std::vector<std::int32_t>> times;  // tag -> its rows' times
    for (const auto* bound : {&from, &to}) {
        if (*bound && !(*bound)->timeMs) {
            times[(*bound)->tag];
        }
    }
    std::uint64_t rows = 0;
    try {
        ExportOptions whole = options;
        whole.range.reset();
        RowSource source_rows(source, whole);
        RowBlock block;
        while (source_rows.next(block)) {
            for (const Row& row : block.rows) {
                rows += row.hasRecord() ? 1 : 0;
                for (const TagMark& tag : block.tagsOf(row)) {
                    if (auto found = times.find(tag.number); found != times.end()) {
                        found->second.push_back(row.hasRecord() ? row.timeMs : 0);
                    }
                }
            }
        }
    } catch (...) {
        return currentFailure(source.name(), "finding the range");
    }
    const auto timeOf = [&](const RangeBound& bound) -> Result<std::int64_t> {
        if (bound.timeMs) {
            return *bound.timeMs;
        }
        const std::vector<std::int32_t>& marks = times[bound.tag];
        if (marks.size() < bound.occurrence) {
            const std::string name =
                "tag:" + std::to_string(bound.tag) +
                (bound.occurrence > 1 ? "#" + std::to_string(bound.occurrence) : std::string());
            return Error(ErrorCode::InvalidSettings,
                         name + ": the recording " +
                             (marks.empty() ? "has no tag " + std::to_string(bound.tag)
                                            : "marks tag " + std::to_string(bound.tag) + " only " +
                                                  (marks.size() == 1
                                                       ? std::string("once")
                                                       : std::to_string(marks.size()) + " times")),
                         source.name());
        }
        return static_cast<std::int64_t>(marks[bound.occurrence - 1]);
    };
    RowRange range;
    if (from) {
        auto t = timeOf(*from);
        if (!t) {
            return t.error();
        }
        range.fromMs = *t;
    }
    if (to) {
        auto t = timeOf(*to);
        if (!t) {
            return t.error();
        }
        range.toMs = *t;
    }
    const std::int64_t step = options.UpdatePeriod * kSampleIntervalMs;
    const std::int64_t end = static_cast<std::int64_t>(rows) * step;  // after the last row
    ExportOptions ranged = options;
    ranged.range = range;
    const std::int64_t first = rangeOriginMs(ranged);
    if (step < 1 || first >= end || first >= range.toMs) {
        return Error(
            ErrorCode::InvalidSettings,
            "the range from " + formatClock(range.fromMs, true) + " to " +
                (range.toMs == INT64_MAX ? std::string("the end") : formatClock(range.toMs, true)) +
                " holds no row (the rows run from 0:00:00.000 to " +
                formatClock(end > 0 ? end - step : 0, true) + ")",
            source.name());
    }
    return range;
}

}  // namespace zk

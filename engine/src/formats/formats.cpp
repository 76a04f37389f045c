#include "zk/engine/formats/formats.hpp"

#include <array>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "zk/engine/recording/record.hpp"

namespace zk {

namespace {

static_assert(
    [] {
        for (std::size_t i = 0; i < kFormats.size(); ++i) {
            if (static_cast<std::size_t>(kFormats[i].format) != i) {
                return false;
            }
        }
        return true;
    }(),
    "kFormats is in the order of OutputFormat");

char lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != b[i]) {
            return false;
        }
    }
    return true;
}

// Digits at `text`, exactly `count` of them; -1 otherwise.
int digitsAt(std::string_view text, std::size_t at, std::size_t count) noexcept {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int daysInMonth(int year, int month) noexcept {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string formatList(std::string_view separator, std::string_view last, bool extensions) {
    std::vector<std::string_view> items;
    for (const FormatInfo& f : kFormats) {
        const std::string_view item = extensions ? f.extension : f.name;
        if (!item.empty()) {
            items.push_back(item);
        }
    }
    std::string list;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            list += i + 1 == items.size() ? last : separator;
        }
        list += items[i];
    }
    return list;
}

std::string_view formatName(OutputFormat format) noexcept {
    return formatInfo(format).name;
}

std::optional<OutputFormat> formatNamed(std::string_view name) noexcept {
    for (const FormatInfo& f : kFormats) {
        if (equalsIgnoringCase(name, f.name)) {
            return f.format;
        }
    }
    return std::nullopt;
}

std::string_view extensionOf(OutputFormat format) noexcept {
    return formatInfo(format).extension;
}

std::optional<OutputFormat> formatOfPath(std::string_view path) noexcept {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) {
        return std::nullopt;
    }
    for (const FormatInfo& f : kFormats) {
        if (!f.extension.empty() && equalsIgnoringCase(path.substr(dot), f.extension)) {
            return f.format;
        }
    }
    return std::nullopt;
}

bool isSignalFormat(OutputFormat format) noexcept {
    return formatInfo(format).signal;
}

bool isBidsLabel(std::string_view label) noexcept {
    if (label.empty()) {
        return false;
    }
    for (const char c : label) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

std::optional<StartTime> parseStartTime(std::string_view text) noexcept {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const StartTime t{.year = digitsAt(text, 0, 4),
                      .month = digitsAt(text, 5, 2),
                      .day = digitsAt(text, 8, 2),
                      .hour = digitsAt(text, 11, 2),
                      .minute = digitsAt(text, 14, 2),
                      .second = digitsAt(text, 17, 2)};
    if (t.year < 0 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > daysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 59) {
        return std::nullopt;
    }
    return t;
}

std::string formatStartTime(const StartTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

namespace {

// The date and clock time of a broken-down time; a leap second (60) is written as 59.
StartTime startTimeOf(const std::tm& clock) {
    return {.year = clock.tm_year + 1900,
            .month = clock.tm_mon + 1,
            .day = clock.tm_mday,
            .hour = clock.tm_hour,
            .minute = clock.tm_min,
            .second = std::min(clock.tm_sec, 59)};
}

}  // namespace

StartTime estimatedStart(std::time_t modified, std::uint64_t records) {
    const auto length = static_cast<std::time_t>(recordedSeconds(records));
    const std::time_t start = modified - length;
    const std::optional<std::tm> found = platform::localTime(start);
    return found ? startTimeOf(*found) : StartTime{};
}

StartTime laterStart(const StartTime& start, std::int64_t seconds) {
    std::tm clock{};
    clock.tm_year = start.year - 1900;
    clock.tm_mon = start.month - 1;
    clock.tm_mday = start.day;
    clock.tm_hour = start.hour;
    clock.tm_min = start.minute;
    clock.tm_sec = start.second;
    const std::time_t later = platform::fromUtc(clock) + static_cast<std::time_t>(seconds);
    const std::optional<std::tm> found = platform::utcTime(later);
    return found ? startTimeOf(*found) : start;
}

BidsRunFiles bidsRunFiles(std::string_view dataset, const FormatChoices& choices) {
    std::string root(dataset);
    if (!root.empty() && root.back() != '/') {
        root += '/';
    }
    std::string folder = root + "sub-" + choices.subject;
    std::string stem = "sub-" + choices.subject;
    if (!choices.session.empty()) {
        folder += "/ses-" + choices.session;
        stem += "_ses-" + choices.session;
    }
    folder += "/beh";
    stem += "_task-" + choices.task;
    const std::string lock = folder + "/." + stem + ".lock";
    stem = folder + "/" + stem + "_";
    return {.folder = folder,
            .physio = stem + "physio.tsv.gz",
            .sidecar = stem + "physio.json",
            .events = stem + "events.tsv",
            .eventsSidecar = stem + "events.json",
            .description = root + "dataset_description.json",
            .lock = lock};
}

}  // namespace zk

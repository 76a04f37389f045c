#pragma once

// Recordings and settings for the tests.

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/record.hpp"

namespace zk::test {

/// One record of a test recording: type 'P' unless given, a tag when `tag` is not negative.
struct Rec {
    std::int32_t timeMs;
    std::uint16_t raw;
    int tag = -1;
    char type = 'P';
};

/// The bytes of a recording holding `records`; the unused bytes are zero.
inline std::string recordingBytes(const std::vector<Rec>& records) {
    std::string bytes(records.size() * kRecordSize, '\0');
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Rec& r = records[i];
        SampleRecord s{r.timeMs, r.raw, 0, 0, 0, static_cast<std::uint8_t>(r.type)};
        if (r.tag >= 0) {
            s.TagMarker = 'T';
            s.TagLow = static_cast<std::uint8_t>(r.tag & 0xFF);
            s.TagHigh = static_cast<std::uint8_t>(r.tag >> 8);
        }
        s.encodeInto(reinterpret_cast<unsigned char*>(bytes.data()) + i * kRecordSize);
    }
    return bytes;
}

/// `count` records of type P, 20 ms apart from 0, with samples that vary and a tag (numbered
/// 1, 2, ...) on every thousandth record.
inline std::string steadyRecording(std::size_t count) {
    std::vector<Rec> records;
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back({static_cast<std::int32_t>(20 * i),
                           static_cast<std::uint16_t>(3000 + i * 7919 % 40000),
                           i % 1000 == 500 ? static_cast<int>(i / 1000 + 1) : -1});
    }
    return recordingBytes(records);
}

/// A recording's bytes as the engine's sources take them.
inline std::span<const unsigned char> bytesOf(const std::string& bytes) {
    return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

/// Export options with these columns, period, headers and heading (none when empty).
inline ExportOptions settingsWith(bool time, bool data, bool base, bool res, bool tags,
                                  std::int16_t period = 1, bool headers = true,
                                  std::string heading = {}) {
    ExportOptions o;
    o.UpdatePeriod = period;
    o.IncludeHeaders = headers;
    o.IncludeTime = time;
    o.IncludeData = data;
    o.IncludeBaseline = base;
    o.IncludeResistance = res;
    o.IncludeTags = tags;
    if (!heading.empty()) {
        o.heading = std::move(heading);
    }
    return o;
}

/// `options` with `heading` as the heading's text; none when it is empty.
inline ExportOptions withHeading(ExportOptions options, std::string_view heading) {
    if (!heading.empty()) {
        options.heading = std::string(heading);
    }
    return options;
}

}  // namespace zk::test

#pragma once

// The row rule written out once more, as plainly as it can be said, for the tests to hold the
// export, the row source and the formats against: record by record, with a string for the held
// row, without RowClock, the row table or the rule's own code.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/row.hpp"

namespace zk::test {

/// The CSV that exporting `recording` with `o` writes (the heading line and the column-header
/// line when `o` asks for them, then the data lines); nothing when the export must fail: a
/// period whose step leaves 16 bits, or a row schedule passing 2^31 - 1 ms.
inline std::optional<std::string> modelCsv(std::span<const unsigned char> recording,
                                           const ExportOptions& o) {
    const std::int64_t step = std::int64_t{o.UpdatePeriod} * 20;
    if (step < INT16_MIN || step > INT16_MAX) {
        return std::nullopt;
    }
    const std::pair<bool, const char*> columns[] = {{o.IncludeTime, ",Time(msec)"},
                                                    {o.IncludeSeconds, ",Time(sec)"},
                                                    {o.IncludeData, ",Data(16 bit)"},
                                                    {o.IncludeBaseline, ",Baseline"},
                                                    {o.IncludeResistance, ",Resistance(kOhm)"},
                                                    {o.IncludeConductance, ",Conductance(uS)"},
                                                    {o.IncludeTags, ",Tag Number"}};
    std::string out, line;
    if (o.IncludeHeaders) {
        if (o.heading) {  // one field between double quotes, a quote inside doubled
            out += '"';
            for (const char c : *o.heading) {
                out.append(c == '"' ? 2 : 1, c);
            }
            out += "\"\r\n";
        }
        for (const auto& [on, name] : columns) {
            line += on ? name : "";
        }
        out += line.substr(line.empty() ? 0 : 1) + "\r\r\n";
        line.clear();
    }
    // A row of a value column has its line even when its fields are empty (no conductance);
    // with the Tags column alone only a row with a tag has one.
    const bool valueColumn = o.IncludeTime || o.IncludeSeconds || o.IncludeData ||
                             o.IncludeBaseline || o.IncludeResistance || o.IncludeConductance;
    bool open = false;
    std::int32_t tag = -1;  // the tag that goes with the held row; -1 for none
    const auto endRow = [&] {
        line += tag >= 0 ? Format_Number_Field(tag) : "";
        out += open || !line.empty() ? line + "\r\n" : "";
        line.clear();
        open = false;
        tag = -1;
    };
    std::int64_t next = 0;  // wider than the schedule, to see it pass its limit
    for (std::size_t at = 0; at + kRecordSize <= recording.size(); at += kRecordSize) {
        const SampleRecord r = SampleRecord::decode(recording.data() + at);
        if (!isExportType(r.RecordType)) {
            continue;
        }
        if (r.TimeMs >= next) {
            endRow();
            Assemble_Record(line, o, static_cast<std::int32_t>(next), r.RawValue);
            open = valueColumn;
            next += step;
        }
        if (r.hasTag() && o.IncludeTags) {
            tag = r.tagNumber();
        }
        if (next > INT32_MAX || next < INT32_MIN) {
            return std::nullopt;
        }
    }
    endRow();
    return out;
}

/// Where two CSV texts part: the first line that differs, as "line N: A | B", or empty when
/// they are the same. A failing comparison of whole exports says this much rather than
/// printing, or diffing, tens of thousands of lines.
inline std::string firstDifference(std::string_view a, std::string_view b) {
    std::size_t line = 1, at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) {
        line += a[at++] == '\n';
    }
    if (at == a.size() && at == b.size()) {
        return {};
    }
    const auto lineAt = [&](std::string_view text) {
        const std::size_t start = text.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t from = start == std::string_view::npos || at == 0 ? 0 : start + 1;
        return std::string(text.substr(from, text.find('\n', from) - from));
    };
    return "line " + std::to_string(line) + ": " + lineAt(a) + " | " + lineAt(b);
}

}  // namespace zk::test

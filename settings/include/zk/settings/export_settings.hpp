#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zk/engine/export/export_options.hpp"

namespace zk {

/// The nine choices that survive between runs, in the order the configuration file holds them.
/// The defaults are those of a first start: headers, time and data on, one row per sample.
struct ExportSettings {
    /// Directory of the last recording chosen, ending with "/"; empty when none is known.
    std::string SourceDir;
    /// Directory of the last CSV file chosen, ending with "/"; empty when none is known.
    std::string DestDir;
    /// Samples of 20 ms per output row. The window offers 1, 10, 50 and 250; the export accepts
    /// ±kMaxUpdatePeriod.
    std::int16_t UpdatePeriod = 1;
    /// Write the heading line (when there is a heading) and the column-header line.
    bool IncludeHeaders = true;
    bool IncludeTime = true;         ///< "Time(msec)" column: the row's scheduled time.
    bool IncludeData = true;         ///< "Data(16 bit)" column: the raw sample, 0..65535.
    bool IncludeBaseline = false;    ///< "Baseline" column: 0.5 .. 6.5 in steps of 0.05.
    bool IncludeResistance = false;  ///< "Resistance(kOhm)" column.
    bool IncludeTags = false;        ///< "Tag Number" column.

    friend bool operator==(const ExportSettings&, const ExportSettings&) = default;
};

/// The export that these settings describe, with `heading` as the heading's text (none for no
/// heading line).
inline ExportOptions exportOptions(const ExportSettings& s,
                                   std::optional<std::string> heading = std::nullopt) {
    return {.UpdatePeriod = s.UpdatePeriod,
            .IncludeHeaders = s.IncludeHeaders,
            .IncludeTime = s.IncludeTime,
            .IncludeData = s.IncludeData,
            .IncludeBaseline = s.IncludeBaseline,
            .IncludeResistance = s.IncludeResistance,
            .IncludeTags = s.IncludeTags,
            .heading = std::move(heading)};
}

}  // namespace zk

#pragma once

// The rule by which records become rows and tags find their row, one record at a time. The CSV
// scan (export.cpp) and the row source (row_source.cpp) both step every record through
// stepRecord(), so the two can't disagree on which record makes a row or which row a tag goes
// with.

#include <array>
#include <cstdint>
#include <string>

#include "recording/little_endian.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/export/validate.hpp"
#include "zk/engine/recording/record.hpp"

namespace zk::detail {

inline constexpr std::array<bool, 256> kExportTypes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = isExportType(static_cast<std::uint8_t>(c));
    }
    return table;
}();

/// One record's step of the rule. A record of an export type whose time stamp has reached the
/// schedule makes the next row: `rows.row(record, time)` is called with the row's scheduled
/// time, and the row before it (if any) ends there. A tag mark on a record of an export type
/// goes with the last row made, its own row included: `rows.tag(record, number)` follows. A tag
/// before the first row finds no row: what becomes of it is the caller's choice. Records of
/// other types are passed over. Returns false when the schedule would pass 2147483647 ms after
/// the row this record made.
template <class Rows>
[[gnu::always_inline]] inline bool stepRecord(const unsigned char* record, RowClock& clock,
                                              Rows& rows) {
    if (!kExportTypes[record[record_offset::RecordType]]) {
        return true;
    }
    if (clock.due(loadLe32(record + record_offset::TimeMs))) {
        rows.row(record, clock.next());
        if (!clock.advance()) {
            return false;
        }
    }
    if (record[record_offset::TagMarker] == 'T') {
        rows.tag(record, static_cast<std::uint16_t>(record[record_offset::TagLow] |
                                                    (record[record_offset::TagHigh] << 8)));
    }
    return true;
}

/// The schedule step of the options' UpdatePeriod; throws Error(InvalidSettings) beyond
/// ±kMaxUpdatePeriod.
inline std::int32_t rowStep(const ExportOptions& options) {
    const auto step = rowStepMs(options.UpdatePeriod);
    if (!step) {
        throw *validateOptions(options);  // the period's problem comes first
    }
    return *step;
}

/// The failure of a schedule that passes its limit at record `index` (from 0).
inline Error scheduleOverflow(const std::string& source, std::uint64_t index) {
    return Error(ErrorCode::ScheduleOverflow,
                 "the row schedule passes the largest time of 2147483647 ms at record " +
                     std::to_string(index + 1),
                 source, index * kRecordSize);
}

inline Error truncatedSource(const std::string& source, std::uint64_t records) {
    return Error(ErrorCode::SourceTruncated,
                 "the recording became shorter while it was being exported", source,
                 records * kRecordSize);
}

inline Error recordIndexOverflow(const std::string& source, std::uint64_t records) {
    return Error(ErrorCode::RecordIndexOverflow, "the recording holds more than 2147483647 records",
                 source, records * kRecordSize);
}

}  // namespace zk::detail

#include "zk/engine/recording/row.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "zk/engine/recording/conversions.hpp"

namespace zk {

namespace {

// Writes the fields that follow the time fields at `out` and returns the end; `first` tells
// whether no field has been written before them. At most RowTable's wide entry size less one.
char* writeSampleFields(char* out, const ExportOptions& options, bool first,
                        std::int32_t UnsignedValue) noexcept {
    for (const Column& column : kColumns) {
        if (column.kind != ColumnKind::Value || !(options.*column.flag)) {
            continue;
        }
        if (!first) {
            *out++ = ',';
        }
        out = column.field(out, 0, UnsignedValue);
        first = false;
    }
    // The Tags column's comma; the tag number itself is appended when the line is written.
    if (options.IncludeTags && !first) {
        *out++ = ',';
    }
    return out;
}

}  // namespace

void Assemble_Record(std::string& OutputLine, const ExportOptions& options,
                     std::int32_t NextOutputTime, std::int32_t UnsignedValue) {
    char line[RowTable::kMaxRowLength];
    char* end = line;
    if (options.IncludeTime) {
        end = writeNumberField(end, NextOutputTime);
    }
    if (options.IncludeSeconds) {
        if (options.IncludeTime) {
            *end++ = ',';
        }
        end = writeSecondsField(end, NextOutputTime);
    }
    end = writeSampleFields(end, options, !options.IncludeTime && !options.IncludeSeconds,
                            UnsignedValue);
    OutputLine.assign(line, end);
}

std::size_t RowTable::entrySizeFor(const ExportOptions& options) {
    // The longest number texts are 13 characters ("-3.139428E-04"), and the Data and Baseline
    // fields at most 6 and 4: up to 27 characters with the commas unless both the resistance and
    // the conductance are written.
    return options.IncludeResistance && options.IncludeConductance ? kWideEntrySize : kEntrySize;
}

RowTable::RowTable(const ExportOptions& options)
    : includeTime_(options.IncludeTime),
      includeSeconds_(options.IncludeSeconds),
      rowsEmpty_(!hasValueColumn(options)),
      entrySize_(entrySizeFor(options)),
      entries_(65536 * entrySize_) {
    const bool first = !options.IncludeTime && !options.IncludeSeconds;
    for (std::int32_t v = 0; v < 65536; ++v) {
        char* const begin = entries_.data() + static_cast<std::size_t>(v) * entrySize_;
        char* const p = writeSampleFields(begin, options, first, v);
        assert(p - begin < static_cast<std::ptrdiff_t>(entrySize_));
        begin[entrySize_ - 1] = static_cast<char>(p - begin);
    }
}

}  // namespace zk

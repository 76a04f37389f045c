#include "zk/engine/row.hpp"

#include <cassert>
#include <cstring>

#include "zk/engine/conversions.hpp"

namespace zk {

namespace {

// Writes the fields that follow the Time field at `out` and returns the end; `first` tells
// whether a field has been written before them. At most RowTable's entry size less one.
char* writeSampleFields(char* out, const ExportOptions& options, bool first,
                        std::int32_t UnsignedValue) noexcept {
    if (options.IncludeData) {
        if (!first) {
            *out++ = ',';
        }
        out = writeNumberField(out, UnsignedValue);
        first = false;
    }
    if (options.IncludeBaseline) {
        if (!first) {
            *out++ = ',';
        }
        const std::string_view base = Calc_Base(UnsignedValue);
        std::memcpy(out, base.data(), base.size());
        out += base.size();
        first = false;
    }
    if (options.IncludeResistance) {
        if (!first) {
            *out++ = ',';
        }
        out = writeNumberField(out, Calc_Resistance(UnsignedValue));
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
    end = writeSampleFields(end, options, !options.IncludeTime, UnsignedValue);
    OutputLine.assign(line, end);
}

RowTable::RowTable(const ExportOptions& options)
    : includeTime_(options.IncludeTime),
      rowsEmpty_(!options.IncludeTime && !options.IncludeData && !options.IncludeBaseline &&
                 !options.IncludeResistance),
      entries_(65536 * sizeof(Entry)) {
    for (std::int32_t v = 0; v < 65536; ++v) {
        char* const begin = entries()[v].text;
        char* const p = writeSampleFields(begin, options, !options.IncludeTime, v);
        assert(p - begin < static_cast<std::ptrdiff_t>(kEntrySize));
        begin[kEntrySize - 1] = static_cast<char>(p - begin);
    }
}

}  // namespace zk

#include "zk/engine/row.hpp"

#include <cassert>
#include <cstring>

#include "zk/engine/conversions.hpp"

namespace zk {

namespace {

// Writes the fields that follow the Time field at `out` and returns the end; `first` tells
// whether a field has been written before them. At most RowTable's entry size less one.
char* writeSampleFields(char* out, const ExportSettings& settings, bool first,
                        std::int32_t UnsignedValue) noexcept {
    if (settings.IncludeData) {
        if (!first) {
            *out++ = ',';
        }
        out = writeNumberField(out, UnsignedValue);
        first = false;
    }
    if (settings.IncludeBaseline) {
        if (!first) {
            *out++ = ',';
        }
        const std::string_view base = Calc_Base(UnsignedValue);
        std::memcpy(out, base.data(), base.size());
        out += base.size();
        first = false;
    }
    if (settings.IncludeResistance) {
        if (!first) {
            *out++ = ',';
        }
        out = writeNumberField(out, Calc_Resistance(UnsignedValue));
        first = false;
    }
    // The Tags column's comma; the tag number itself is appended when the line is written.
    if (settings.IncludeTags && !first) {
        *out++ = ',';
    }
    return out;
}

}  // namespace

void Assemble_Record(std::string& OutputLine, const ExportSettings& settings,
                     std::int32_t NextOutputTime, std::int32_t UnsignedValue) {
    char line[RowTable::kMaxRowLength];
    char* end = line;
    if (settings.IncludeTime) {
        end = writeNumberField(end, NextOutputTime);
    }
    end = writeSampleFields(end, settings, !settings.IncludeTime, UnsignedValue);
    OutputLine.assign(line, end);
}

RowTable::RowTable(const ExportSettings& settings)
    : includeTime_(settings.IncludeTime),
      rowsEmpty_(!settings.IncludeTime && !settings.IncludeData && !settings.IncludeBaseline &&
                 !settings.IncludeResistance),
      entries_(65536 * sizeof(Entry)) {
    for (std::int32_t v = 0; v < 65536; ++v) {
        char* const begin = entries()[v].text;
        char* const p = writeSampleFields(begin, settings, !settings.IncludeTime, v);
        assert(p - begin < static_cast<std::ptrdiff_t>(kEntrySize));
        begin[kEntrySize - 1] = static_cast<char>(p - begin);
    }
}

}  // namespace zk

#include "zk/engine/row.hpp"

#include <cassert>
#include <cstring>

#include "zk/engine/conversions.hpp"

namespace zk {

namespace {

// Appends the fields that follow the Time field, exactly as Assemble_Record does; `first` tells
// whether a field has been written before them.
void appendSampleFields(std::string& line, const ExportSettings& settings, bool first,
                        std::int32_t UnsignedValue) {
    if (settings.IncludeData) {
        if (!first) {
            line += ',';
        }
        line += Format_Number_Field(UnsignedValue);
        first = false;
    }
    if (settings.IncludeBaseline) {
        if (!first) {
            line += ',';
        }
        line += Calc_Base(UnsignedValue);
        first = false;
    }
    if (settings.IncludeResistance) {
        if (!first) {
            line += ',';
        }
        line += Format_Number_Field(Calc_Resistance(UnsignedValue));
        first = false;
    }
    // The Tags column's comma; the tag number itself is appended when the line is written.
    if (settings.IncludeTags && !first) {
        line += ',';
    }
}

}  // namespace

void Assemble_Record(std::string& OutputLine, const ExportSettings& settings,
                     std::int32_t NextOutputTime, std::int32_t UnsignedValue) {
    OutputLine.clear();
    if (settings.IncludeTime) {
        OutputLine += Format_Number_Field(NextOutputTime);
    }
    appendSampleFields(OutputLine, settings, !settings.IncludeTime, UnsignedValue);
}

RowTable::RowTable(const ExportSettings& settings)
    : includeTime_(settings.IncludeTime),
      rowsEmpty_(!settings.IncludeTime && !settings.IncludeData && !settings.IncludeBaseline &&
                 !settings.IncludeResistance),
      entries_(65536 * sizeof(Entry)) {
    // The same fields as appendSampleFields, written straight into the entries: the table is
    // built at the start of every export, so it has to be quick.
    for (std::int32_t v = 0; v < 65536; ++v) {
        char* const begin = entries()[v].text;
        char* p = begin;
        bool first = !settings.IncludeTime;
        if (settings.IncludeData) {
            if (!first) {
                *p++ = ',';
            }
            p = writeNumberField(p, v);
            first = false;
        }
        if (settings.IncludeBaseline) {
            if (!first) {
                *p++ = ',';
            }
            const std::string_view base = Calc_Base(v);
            std::memcpy(p, base.data(), base.size());
            p += base.size();
            first = false;
        }
        if (settings.IncludeResistance) {
            if (!first) {
                *p++ = ',';
            }
            p = writeNumberField(p, Calc_Resistance(v));
            first = false;
        }
        if (settings.IncludeTags && !first) {
            *p++ = ',';
        }
        assert(p - begin < static_cast<std::ptrdiff_t>(kEntrySize));
        begin[kEntrySize - 1] = static_cast<char>(p - begin);
    }
}

}  // namespace zk

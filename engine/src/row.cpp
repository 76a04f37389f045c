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
      entries_(new Entry[65536]) {
    std::string fields;
    for (std::int32_t v = 0; v < 65536; ++v) {
        fields.clear();
        appendSampleFields(fields, settings, !settings.IncludeTime, v);
        assert(fields.size() < kEntrySize);
        Entry& e = entries_[v];
        std::memcpy(e.text, fields.data(), fields.size());
        e.text[kEntrySize - 1] = static_cast<char>(fields.size());
    }
}

char* RowTable::write(char* out, std::int32_t NextOutputTime,
                      std::uint16_t UnsignedValue) const noexcept {
    if (includeTime_) {
        out = writeNumberField(out, NextOutputTime);
    }
    const Entry& e = entries_[UnsignedValue];
    // A fixed-size copy is cheaper than one of the exact length; the bytes past the text are
    // overwritten by whatever follows.
    std::memcpy(out, e.text, kEntrySize);
    return out + static_cast<unsigned char>(e.text[kEntrySize - 1]);
}

}  // namespace zk

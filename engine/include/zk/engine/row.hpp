#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "zk/settings/export_settings.hpp"

namespace zk {

/// Builds the text of one data row into `OutputLine` (which it replaces): the included columns
/// in the fixed order Time, Data, Baseline, Resistance, with "," between them and no empty
/// fields for absent columns. When IncludeTags is on and another column is, the row ends with
/// "," so that a tag number can follow; with Tags alone, or no column, the row is empty.
/// `NextOutputTime` is the row's scheduled time (ms), `UnsignedValue` the raw sample 0..65535.
void Assemble_Record(std::string& OutputLine, const ExportSettings& settings,
                     std::int32_t NextOutputTime, std::int32_t UnsignedValue);

/// The export's fast form of Assemble_Record: everything of a row that depends on the raw sample
/// (the Data, Baseline and Resistance fields, the commas and the Tags comma) is built once for
/// all 65,536 samples, so a row costs one time text and one copy.
class RowTable {
  public:
    /// Room a row needs at most at the output position: time text plus the longest entry,
    /// plus the slack of the fixed-size copy.
    static constexpr std::size_t kMaxRowLength = 64;

    explicit RowTable(const ExportSettings& settings);

    /// Writes the row of Assemble_Record for this time and sample at `out` (room for
    /// kMaxRowLength bytes) and returns the end of the row text.
    char* write(char* out, std::int32_t NextOutputTime, std::uint16_t UnsignedValue) const noexcept;

    /// True when every row is empty (no column, or Tags alone).
    bool rowsEmpty() const noexcept { return rowsEmpty_; }

  private:
    static constexpr std::size_t kEntrySize = 32;  // 31 characters and a length byte
    struct Entry {
        char text[kEntrySize];
    };

    bool includeTime_;
    bool rowsEmpty_;
    std::unique_ptr<Entry[]> entries_;  // 65,536 entries, 2 MiB
};

}  // namespace zk

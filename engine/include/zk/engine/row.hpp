#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "zk/engine/conversions.hpp"
#include "zk/engine/large_buffer.hpp"
#include "zk/engine/export_options.hpp"

namespace zk {

/// Builds the text of one data row into `OutputLine` (which it replaces): the included columns
/// in the fixed order Time, Data, Baseline, Resistance, with "," between them and no empty
/// fields for absent columns. When IncludeTags is on and another column is, the row ends with
/// "," so that a tag number can follow; with Tags alone, or no column, the row is empty.
/// `NextOutputTime` is the row's scheduled time (ms), `UnsignedValue` the raw sample 0..65535.
void Assemble_Record(std::string& OutputLine, const ExportOptions& options,
                     std::int32_t NextOutputTime, std::int32_t UnsignedValue);

/// The export's fast form of Assemble_Record: everything of a row that depends on the raw sample
/// (the Data, Baseline and Resistance fields, the commas and the Tags comma) is built once for
/// all 65,536 samples, so a row costs one time text and one copy. The table is read-only once
/// built; rows are written through a Writer, one for each thread.
class RowTable {
    static constexpr std::size_t kEntrySize = 32;  // 31 characters and a length byte
    struct Entry {
        char text[kEntrySize];
    };

  public:
    /// A bound on the length of a row's text: a time text and the longest entry.
    static constexpr std::size_t kMaxRowText = kMaxNumberFieldLength + kEntrySize - 1;
    /// Room a row needs at the output position: the fixed-size copies may write past the text.
    static constexpr std::size_t kMaxRowLength = 64;

    explicit RowTable(const ExportOptions& options);

    /// True when every row is empty (no column, or Tags alone).
    bool rowsEmpty() const noexcept { return rowsEmpty_; }

    /// Writes rows from the table. Successive rows share all but the last four digits of their
    /// time, so the text of those leading digits is kept from row to row.
    class Writer {
      public:
        explicit Writer(const RowTable& table) noexcept
            : entries_(table.entries()), includeTime_(table.includeTime_) {}

        /// Writes the row of Assemble_Record for this time and sample at `out` (room for
        /// kMaxRowLength bytes) and returns the end of the row text.
        char* write(char* out, std::int32_t NextOutputTime, std::uint16_t UnsignedValue) noexcept {
            if (includeTime_) {
                out = writeTime(out, NextOutputTime);
            }
            const Entry& e = entries_[UnsignedValue];
            // A fixed-size copy is cheaper than one of the exact length; the bytes past the
            // text are overwritten by whatever follows.
            std::memcpy(out, e.text, kEntrySize);
            return out + static_cast<unsigned char>(e.text[kEntrySize - 1]);
        }

        /// Starts loading the table entry of a sample that a later row will need.
        void prefetch(std::uint16_t UnsignedValue) const noexcept {
            __builtin_prefetch(&entries_[UnsignedValue]);
        }

      private:
        char* writeTime(char* out, std::int32_t time) noexcept {
            if (time < 10000) {
                return writeNumberField(out, time);
            }
            const auto high = static_cast<std::uint32_t>(time) / 10000;
            const auto low = static_cast<std::uint32_t>(time) - high * 10000;
            if (high != cachedHigh_) {
                cachedHigh_ = high;
                highLength_ = static_cast<std::size_t>(
                    writeNumberField(highText_, static_cast<std::int32_t>(high)) - highText_);
            }
            std::memcpy(out, highText_, sizeof highText_);
            out += highLength_;
            std::memcpy(out, kFourDigits.data() + 4 * low, 4);
            return out + 4;
        }

        const Entry* entries_;
        bool includeTime_;
        std::uint32_t cachedHigh_ = UINT32_MAX;  // the leading digits that highText_ holds
        std::size_t highLength_ = 0;
        char highText_[kMaxNumberFieldLength] = {};
    };

  private:
    /// "0000" to "9999".
    static constexpr std::array<char, 40000> kFourDigits = [] {
        std::array<char, 40000> digits{};
        for (int i = 0; i < 10000; ++i) {
            digits[4 * i] = static_cast<char>('0' + i / 1000);
            digits[4 * i + 1] = static_cast<char>('0' + i / 100 % 10);
            digits[4 * i + 2] = static_cast<char>('0' + i / 10 % 10);
            digits[4 * i + 3] = static_cast<char>('0' + i % 10);
        }
        return digits;
    }();

    Entry* entries() const noexcept { return reinterpret_cast<Entry*>(entries_.data()); }

    bool includeTime_;
    bool rowsEmpty_;
    LargeBuffer entries_;  // 65,536 entries, 2 MiB
};

}  // namespace zk

#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/large_buffer.hpp"

namespace zk {

/// Builds the text of one data row into `OutputLine` (which it replaces): the included columns
/// in the fixed order of kColumns, with "," between them and no empty fields for absent
/// columns; a sample without conductance leaves the Conductance field empty. When IncludeTags
/// is on and another column is, the row ends with "," so that a tag number can follow; with Tags
/// alone, or no column, the row is empty. `NextOutputTime` is the row's scheduled time (ms),
/// `UnsignedValue` the raw sample 0..65535.
void Assemble_Record(std::string& OutputLine, const ExportOptions& options,
                     std::int32_t NextOutputTime, std::int32_t UnsignedValue);

/// The export's fast form of Assemble_Record: everything of a row that depends on the raw sample
/// (the Data, Baseline, Resistance and Conductance fields, the commas and the Tags comma) is
/// built once for all 65,536 samples, so a row costs its time texts and one copy. The table is
/// read-only once built; rows are written through a Writer, one for each thread.
class RowTable {
    // An entry holds its text and, in its last byte, the text's length. The usual columns fit
    // in 32 bytes; resistance and conductance together need the wide entries.
    static constexpr std::size_t kEntrySize = 32;
    static constexpr std::size_t kWideEntrySize = 64;

  public:
    /// A bound on the length of a row's text: two time texts, a comma and the longest entry.
    static constexpr std::size_t kMaxRowText = 2 * kMaxNumberFieldLength + kWideEntrySize;
    /// Room a row needs at the output position: the fixed-size copies may write past the text.
    static constexpr std::size_t kMaxRowLength = 128;

    explicit RowTable(const ExportOptions& options);

    /// True when every row is empty (no column, or Tags alone).
    bool rowsEmpty() const noexcept { return rowsEmpty_; }

    /// True when the rows need neither the Time(sec) text nor the wide entries: the usual
    /// columns, whose rows Writer::write<true> writes by the shortest path.
    bool plainRows() const noexcept { return !includeSeconds_ && entrySize_ == kEntrySize; }

    /// Writes rows from the table. Successive rows share all but the last four digits of their
    /// time, so the text of those leading digits is kept from row to row.
    class Writer {
      public:
        explicit Writer(const RowTable& table) noexcept
            : entries_(table.entries_.data()),
              wide_(table.entrySize_ == kWideEntrySize),
              includeTime_(table.includeTime_),
              includeSeconds_(table.includeSeconds_) {}

        /// Writes the row of Assemble_Record for this time and sample at `out` (room for
        /// kMaxRowLength bytes) and returns the end of the row text. Rows of a table whose
        /// plainRows() is true may take the plain path (kPlain), which leaves out what only the
        /// Time(sec) column and the wide entries need.
        template <bool kPlain = false>
        char* write(char* out, std::int32_t NextOutputTime, std::uint16_t UnsignedValue) noexcept {
            if (includeTime_) {
                out = writeTime(out, NextOutputTime);
            }
            if (kPlain || !wide_) {
                if constexpr (!kPlain) {
                    if (includeSeconds_) {
                        if (includeTime_) {
                            *out++ = ',';
                        }
                        out = writeSecondsField(out, NextOutputTime);
                    }
                }
                const char* const e = entries_ + kEntrySize * UnsignedValue;
                std::memcpy(out, e, kEntrySize);
                return out + static_cast<unsigned char>(e[kEntrySize - 1]);
            }
            if (includeSeconds_) {
                if (includeTime_) {
                    *out++ = ',';
                }
                out = writeSecondsField(out, NextOutputTime);
            }
            // A fixed-size copy is cheaper than one of the exact length; the bytes past the
            // text are overwritten by whatever follows.
            const char* const e = entries_ + kWideEntrySize * UnsignedValue;
            std::memcpy(out, e, kWideEntrySize);
            return out + static_cast<unsigned char>(e[kWideEntrySize - 1]);
        }

        /// Starts loading the table entry of a sample that a later row will need.
        template <bool kPlain = false>
        void prefetch(std::uint16_t UnsignedValue) const noexcept {
            __builtin_prefetch(entries_ +
                               (!kPlain && wide_ ? kWideEntrySize : kEntrySize) * UnsignedValue);
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

        const char* entries_;
        bool wide_;
        bool includeTime_;
        bool includeSeconds_;
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

    static std::size_t entrySizeFor(const ExportOptions& options);

    bool includeTime_;
    bool includeSeconds_;
    bool rowsEmpty_;
    std::size_t entrySize_;
    LargeBuffer entries_;  // 65,536 entries of entrySize_ bytes
};

}  // namespace zk

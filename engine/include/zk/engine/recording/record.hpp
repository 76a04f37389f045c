#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

/// Every record of a recording is 20 bytes; a recording has no header and no trailer.
inline constexpr std::size_t kRecordSize = 20;

/// Byte offsets of the fields that the program reads; the other bytes are not used.
namespace record_offset {
inline constexpr std::size_t TimeMs = 0;       // signed 32-bit, little-endian
inline constexpr std::size_t RawValue = 4;     // 16-bit, read as unsigned 0..65535
inline constexpr std::size_t TagLow = 13;      // tag number, low byte
inline constexpr std::size_t TagHigh = 14;     // tag number, high byte
inline constexpr std::size_t TagMarker = 18;   // 'T' when the record carries a tag
inline constexpr std::size_t RecordType = 19;  // 'P', 'O', 'S', 'T', ...
}  // namespace record_offset

/// One 20-byte record of a recording. All multi-byte fields are little-endian.
struct SampleRecord {
    std::int32_t TimeMs = 0;     ///< time stamp of the sample, ms
    std::uint16_t RawValue = 0;  ///< the 16-bit sample, as unsigned
    std::uint8_t TagLow = 0;
    std::uint8_t TagHigh = 0;
    std::uint8_t TagMarker = 0;   ///< 'T' marks a tag; anything else, 0 included, means none
    std::uint8_t RecordType = 0;  ///< one ASCII letter; compared by byte value

    /// Reads the fields from 20 bytes.
    static SampleRecord decode(const unsigned char* bytes) noexcept;
    /// Writes the fields into 20 bytes, leaving the unused bytes as they are.
    void encodeInto(unsigned char* bytes) const noexcept;

    bool hasTag() const noexcept { return TagMarker == 'T'; }
    /// The tag number, low + 256 × high: 0..65535 (a high byte of 128 or more is carried).
    std::uint16_t tagNumber() const noexcept {
        return static_cast<std::uint16_t>(TagLow + 256 * TagHigh);
    }
};

/// True for the record types that make a recording valid in its first five records: "O", "P"
/// and "T". Lower-case letters are other types.
constexpr bool isValidationType(std::uint8_t type) noexcept {
    return type == 'O' || type == 'P' || type == 'T';
}

/// True for the record types that the export turns into rows and tags: "P", "O", "S" and "T".
/// Records of any other type are passed over.
constexpr bool isExportType(std::uint8_t type) noexcept {
    return type == 'P' || type == 'O' || type == 'S' || type == 'T';
}

}  // namespace zk

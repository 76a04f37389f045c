#include "zk/engine/recording/record.hpp"

#include "recording/little_endian.hpp"

namespace zk {

using detail::loadLe16;
using detail::loadLe32;

SampleRecord SampleRecord::decode(const unsigned char* bytes) noexcept {
    SampleRecord r;
    r.TimeMs = loadLe32(bytes + record_offset::TimeMs);
    r.RawValue = loadLe16(bytes + record_offset::RawValue);
    r.TagLow = bytes[record_offset::TagLow];
    r.TagHigh = bytes[record_offset::TagHigh];
    r.TagMarker = bytes[record_offset::TagMarker];
    r.RecordType = bytes[record_offset::RecordType];
    return r;
}

void SampleRecord::encodeInto(unsigned char* bytes) const noexcept {
    const auto time = static_cast<std::uint32_t>(TimeMs);
    for (int i = 0; i < 4; ++i) {
        bytes[record_offset::TimeMs + i] = static_cast<unsigned char>(time >> (8 * i));
    }
    bytes[record_offset::RawValue] = static_cast<unsigned char>(RawValue & 0xFF);
    bytes[record_offset::RawValue + 1] = static_cast<unsigned char>(RawValue >> 8);
    bytes[record_offset::TagLow] = TagLow;
    bytes[record_offset::TagHigh] = TagHigh;
    bytes[record_offset::TagMarker] = TagMarker;
    bytes[record_offset::RecordType] = RecordType;
}

}  // namespace zk

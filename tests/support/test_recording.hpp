#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "zk/engine/record.hpp"

namespace zk::test {

/// One record of a test recording: type 'P' unless given, a tag when `tag` is not negative.
struct Rec {
    std::int32_t timeMs;
    std::uint16_t raw;
    int tag = -1;
    char type = 'P';
};

/// The bytes of a recording holding `records`; the unused bytes are zero.
inline std::string recordingBytes(std::span<const Rec> records) {
    std::string bytes;
    bytes.reserve(records.size() * kRecordSize);
    for (const Rec& r : records) {
        unsigned char block[kRecordSize] = {};
        SampleRecord s;
        s.TimeMs = r.timeMs;
        s.RawValue = r.raw;
        if (r.tag >= 0) {
            s.TagMarker = 'T';
            s.TagLow = static_cast<std::uint8_t>(r.tag & 0xFF);
            s.TagHigh = static_cast<std::uint8_t>(r.tag >> 8);
        }
        s.RecordType = static_cast<std::uint8_t>(r.type);
        s.encodeInto(block);
        bytes.append(reinterpret_cast<const char*>(block), sizeof block);
    }
    return bytes;
}

inline std::string recordingBytes(std::initializer_list<Rec> records) {
    return recordingBytes(std::span<const Rec>(records.begin(), records.size()));
}

}  // namespace zk::test

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zk/engine/record.hpp"
#include "zk/settings/export_settings.hpp"

namespace zk::test {

/// Builds recordings record by record for tests.
class RecordingBuilder {
  public:
    /// Appends a record; `tag` < 0 means no tag marker.
    RecordingBuilder& add(std::int32_t timeMs, std::uint16_t raw, int tag = -1, char type = 'P') {
        SampleRecord r;
        r.TimeMs = timeMs;
        r.RawValue = raw;
        r.RecordType = static_cast<std::uint8_t>(type);
        if (tag >= 0) {
            r.TagMarker = 'T';
            r.TagLow = static_cast<std::uint8_t>(tag & 0xFF);
            r.TagHigh = static_cast<std::uint8_t>(tag >> 8);
        }
        return addRecord(r);
    }

    RecordingBuilder& addRecord(const SampleRecord& r) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + kRecordSize, 0);
        r.encodeInto(bytes_.data() + at);
        return *this;
    }

    /// Appends `count` "P" records 20 ms apart, continuing from `startMs`.
    RecordingBuilder& addRun(std::int32_t startMs, int count, std::uint16_t raw = 30000) {
        for (int i = 0; i < count; ++i) {
            add(startMs + 20 * i, raw);
        }
        return *this;
    }

    /// Appends bytes that make no whole record.
    RecordingBuilder& addBytes(std::size_t count, unsigned char value = 0xAB) {
        bytes_.insert(bytes_.end(), count, value);
        return *this;
    }

    const std::vector<unsigned char>& bytes() const { return bytes_; }

  private:
    std::vector<unsigned char> bytes_;
};

/// Settings with the given columns, period and headers.
inline ExportSettings columns(bool time, bool data, bool base, bool res, bool tags,
                              std::int16_t period = 1, bool headers = true) {
    ExportSettings s;
    s.IncludeHeaders = headers;
    s.IncludeTime = time;
    s.IncludeData = data;
    s.IncludeBaseline = base;
    s.IncludeResistance = res;
    s.IncludeTags = tags;
    s.UpdatePeriod = period;
    return s;
}

/// Shows line ends, so that a failing comparison of CSV text can be read.
inline std::string visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace zk::test

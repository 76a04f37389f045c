// Fuzz target: validation and export of an arbitrary recording with arbitrary settings.
//
// Input layout (missing bytes count as 0):
//   byte 0: bit 0 IncludeHeaders, 1 Time, 2 Data, 3 Baseline, 4 Resistance, 5 Tags,
//           bit 6 a heading line, bit 7 a 16-bit UpdatePeriod (else a signed 8-bit one)
//   byte 1, 2: UpdatePeriod (byte 1 alone as a signed byte, or bytes 1-2 little-endian)
//   byte 3: the heading's length n; the next n bytes are its text (when bit 6 is set)
//   the rest: the recording.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz_targets.hpp"
#include "reference_export.hpp"
#include "zk/engine/byte_sink.hpp"
#include "zk/engine/byte_source.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/recording.hpp"

namespace zk::fuzz {

namespace {

// The rule of validation, stated independently: five whole records, each of type O, P or T.
bool modelValid(std::span<const unsigned char> recording) {
    if (recording.size() < 5 * kRecordSize) {
        return false;
    }
    for (std::size_t i = 0; i < 5; ++i) {
        if (!isValidationType(recording[i * kRecordSize + record_offset::RecordType])) {
            return false;
        }
    }
    return true;
}

// Checks the line structure of a CSV text and returns the number of data lines: the heading
// line (when there is a heading) ends in CR LF, the column-header line in CR CR LF, and every
// data line is non-empty, holds no CR or LF and ends in CR LF.
std::uint64_t checkLines(std::string_view text, const ExportSettings& settings,
                         std::string_view heading) {
    if (settings.IncludeHeaders) {
        if (!heading.empty()) {
            const std::string first = std::string(heading) + "\r\n";
            require(text.substr(0, first.size()) == first, "the heading line is not first");
            text.remove_prefix(first.size());
        }
        const std::string header = columnHeaderText(settings) + "\r\r\n";
        require(header.find_first_of("\r\n") == header.size() - 3,
                "the column-header text holds a line break");
        require(text.substr(0, header.size()) == header,
                "the column-header line is missing or does not end in CR CR LF");
        text.remove_prefix(header.size());
    }
    std::uint64_t lines = 0;
    while (!text.empty()) {
        const auto end = text.find("\r\n");
        require(end != std::string_view::npos, "a data line does not end in CR LF");
        const std::string_view line = text.substr(0, end);
        require(!line.empty(), "an empty data line");
        require(line.find_first_of("\r\n") == std::string_view::npos,
                "a data line holds a stray CR or LF");
        ++lines;
        text.remove_prefix(end + 2);
    }
    return lines;
}

}  // namespace

void exportTarget(const std::uint8_t* data, std::size_t size) {
    auto byteAt = [&](std::size_t i) -> std::uint8_t { return i < size ? data[i] : 0; };
    const std::uint8_t flags = byteAt(0);
    ExportSettings settings;
    settings.IncludeHeaders = (flags & 0x01) != 0;
    settings.IncludeTime = (flags & 0x02) != 0;
    settings.IncludeData = (flags & 0x04) != 0;
    settings.IncludeBaseline = (flags & 0x08) != 0;
    settings.IncludeResistance = (flags & 0x10) != 0;
    settings.IncludeTags = (flags & 0x20) != 0;
    settings.UpdatePeriod =
        (flags & 0x80) != 0
            ? static_cast<std::int16_t>(static_cast<std::uint16_t>(byteAt(1) | byteAt(2) << 8))
            : static_cast<std::int8_t>(byteAt(1));
    std::size_t pos = std::min<std::size_t>(size, 4);
    std::string heading;
    if ((flags & 0x40) != 0) {
        const std::size_t n = std::min<std::size_t>(byteAt(3), size - pos);
        heading = Quote_Heading(std::string_view(reinterpret_cast<const char*>(data + pos), n));
        pos += n;
    }
    const std::vector<unsigned char> recording(data + pos, data + size);

    MemorySource source(recording, "fuzz.zkd");
    require(Verify_zkd_Format(source) == modelValid(recording),
            "Verify_zkd_Format disagrees with the rule of five valid records");

    StringSink sink("fuzz.csv");
    const ExportResult result = Export(source, sink, settings, heading);
    const auto expected = test::referenceExport(recording, settings, heading);
    const std::uint64_t records = recording.size() / kRecordSize;

    if (!expected) {
        // A period beyond ±1638 or a schedule passing 2^31 - 1 ms: the export must fail, and
        // say why.
        require(!result.ok(), "an export that cannot be done was reported as a success");
        require(result.error->code() == ErrorCode::InvalidSettings ||
                    result.error->code() == ErrorCode::ScheduleOverflow,
                "an impossible export failed with an unexpected code: " + result.error->describe());
        require(!result.error->describe().empty(), "a failure without a message");
        return;
    }
    require(result.ok(),
            "an export failed: " + (result.error ? result.error->describe() : std::string("?")));
    require(result.recordsRead == records, "not every whole record was read");
    const std::uint64_t lines = checkLines(sink.text(), settings, heading);
    require(lines == result.rowsWritten, "rowsWritten differs from the data lines written");
    // Every line is a due record's row, or the tags seen before the first due record, which
    // need a record of their own.
    require(result.rowsWritten <= records, "more data lines than records");
    require(sink.text() == *expected, "the export differs from the plain model");
}

}  // namespace zk::fuzz

#include "reference_export.hpp"

#include <cstring>
#include <limits>

#include "zk/engine/conversions.hpp"
#include "zk/engine/export.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/row.hpp"

namespace zk::test {

std::optional<std::string> referenceExport(const std::vector<unsigned char>& recording,
                                           const ExportSettings& s, std::string_view headingText) {
    const int step = s.UpdatePeriod * 20;
    if (step < std::numeric_limits<std::int16_t>::min() ||
        step > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    std::string out;
    if (s.IncludeHeaders) {
        if (!headingText.empty()) {
            out.append(headingText).append("\r\n");
        }
        bool first = true;
        const std::pair<bool, const char*> columns[] = {{s.IncludeTime, "Time(msec)"},
                                                        {s.IncludeData, "Data(16 bit)"},
                                                        {s.IncludeBaseline, "Baseline"},
                                                        {s.IncludeResistance, "Resistance(kOhm)"},
                                                        {s.IncludeTags, "Tag Number"}};
        for (const auto& [on, name] : columns) {
            if (on) {
                if (!first) {
                    out += ',';
                }
                out += name;
                first = false;
            }
        }
        out += "\r\r\n";
    }

    std::int64_t nextOutputTime = 0;  // wider than the schedule, to see it pass its limit
    std::string outputLine;
    bool tagPending = false;
    std::int32_t tagNumber = 0;
    const std::size_t records = recording.size() / kRecordSize;
    for (std::size_t i = 0; i < records; ++i) {
        const SampleRecord r = SampleRecord::decode(recording.data() + i * kRecordSize);
        if (!isExportType(r.RecordType)) {
            continue;
        }
        if (r.TimeMs >= nextOutputTime) {
            if (tagPending) {
                outputLine += Format_Number_Field(tagNumber);
            }
            tagPending = false;
            if (!outputLine.empty()) {
                out += outputLine + "\r\n";
            }
            Assemble_Record(outputLine, s, static_cast<std::int32_t>(nextOutputTime), r.RawValue);
            nextOutputTime += step;
            if (nextOutputTime > std::numeric_limits<std::int32_t>::max() ||
                nextOutputTime < std::numeric_limits<std::int32_t>::min()) {
                return std::nullopt;
            }
        }
        if (r.hasTag()) {
            tagNumber = r.tagNumber();
            if (s.IncludeTags) {
                tagPending = true;
            }
        }
    }
    if (tagPending) {
        outputLine += Format_Number_Field(tagNumber);
    }
    if (!outputLine.empty()) {
        out += outputLine + "\r\n";
    }
    return out;
}

}  // namespace zk::test

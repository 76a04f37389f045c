// A run of a BIDS dataset (a behavioural run with a continuous recording): the samples as
// gzip-compressed tab-separated values without a header row, their description in JSON, the
// tags as events, and the dataset's description when it has none.

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "formats/format_writers.hpp"
#include "formats/gzip_writer.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk::detail {

namespace {

constexpr std::size_t kTextBlock = 256 * 1024;

// The tab-separated text of the value columns for every raw sample: the CSV's texts without
// the sign position, "n/a" for a missing conductance. Entries of kEntry bytes, the last holding
// the length.
class SampleTexts {
  public:
    static constexpr std::size_t kEntry = 48;

    explicit SampleTexts(const ExportOptions& o) : table_(65536 * kEntry) {
        for (std::int32_t v = 0; v < 65536; ++v) {
            std::string text;
            const auto field = [&](const std::string& value) {
                text.append(text.empty() ? "" : "\t").append(value.substr(value[0] == ' '));
            };
            if (o.IncludeData) {
                field(Format_Number_Field(v));
            }
            if (o.IncludeBaseline) {
                field(std::string(Calc_Base(v)));
            }
            if (o.IncludeResistance) {
                field(Format_Number_Field(Calc_Resistance(v)));
            }
            if (o.IncludeConductance) {
                const auto c = Calc_Conductance(v);
                field(c ? Format_Number_Field(*c) : "n/a");
            }
            text += '\n';
            char* const entry = table_.data() + static_cast<std::size_t>(v) * kEntry;
            std::copy(text.begin(), text.end(), entry);
            entry[kEntry - 1] = static_cast<char>(text.size());
        }
    }

    // Appends the line of sample `raw` to `out`.
    void append(std::string& out, std::uint16_t raw) const {
        const char* const entry = table_.data() + static_cast<std::size_t>(raw) * kEntry;
        out.append(entry, static_cast<unsigned char>(entry[kEntry - 1]));
    }

  private:
    std::vector<char> table_;
};

std::string secondsText(std::int64_t timeMs) {
    const std::string text = Format_Seconds_Field(static_cast<std::int32_t>(timeMs));
    return text.substr(text[0] == ' ');
}

void writeJson(OutputFile& file, const nlohmann::ordered_json& json) {
    const std::string text = json.dump(4) + "\n";
    file.sink().write(text.data(), text.size());
}

}  // namespace

void writeBids(ByteSource& source, const BidsOutputs& outputs, const ExportOptions& options,
               const ProgressFn& progress, ExportResult& result) {
    const SampleTexts texts(options);
    GzipWriter physio(outputs.physio->sink());
    std::string events;
    if (outputs.events != nullptr) {
        events = "onset\tduration\ttrial_type\tvalue\tsample\n";
    }

    RowSource rows(source, options, progress, outputs.physio->path());
    RowBlock block;
    std::uint64_t sample = 0;
    // A range's run starts at its first row: the onsets count from there.
    const std::int64_t origin = rangeOriginMs(options);
    while (rows.next(block)) {
        for (const Row& row : block.rows) {
            if (outputs.events != nullptr && row.hasTags()) {
                // The tags marked before the first row go with it, at the start.
                const std::string onset =
                    row.hasRecord() ? secondsText(row.timeMs - origin) : "0.00";
                for (const TagMark& tag : block.tagsOf(row)) {
                    events.append(onset)
                        .append("\t0\ttag\t")
                        .append(std::to_string(tag.number))
                        .append("\t")
                        .append(std::to_string(sample))
                        .append("\n");
                }
                if (events.size() >= kTextBlock) {
                    outputs.events->sink().write(events.data(), events.size());
                    events.clear();
                }
            }
            if (!row.hasRecord()) {
                continue;
            }
            texts.append(physio.text(), row.raw);
            result.rowsWithoutConductance +=
                options.IncludeConductance && !SampleValues::hasConductance(row.raw);
            ++sample;
            if (physio.text().size() >= GzipWriter::kBlock) {
                physio.submit();
            }
        }
    }
    if (sample == 0) {
        // The tags marked before 0 ms of a recording without rows would be events of no run.
        throw Error(ErrorCode::NoRows, "has no rows to write; a BIDS run cannot be empty",
                    outputs.physio->path());
    }
    physio.finish();
    result.rowsWritten = sample;
    result.recordsRead = rows.recordsRead();
    if (outputs.events != nullptr) {
        outputs.events->sink().write(events.data(), events.size());
    }

    using nlohmann::ordered_json;
    struct ColumnInfo {
        bool ExportOptions::*flag;
        const char* name;
        const char* units;
        const char* description;
    };
    static constexpr ColumnInfo kValueColumns[] = {
        {&ExportOptions::IncludeData, "data", "a.u.",
         "The instrument's raw 16-bit sample, 0 to 65535"},
        {&ExportOptions::IncludeBaseline, "baseline", "a.u.",
         "A coarse level of the raw sample, 0.5 to 6.5 in steps of 0.05"},
        {&ExportOptions::IncludeResistance, "resistance", "kOhm",
         "Skin resistance, rounded to seven significant digits; zero or negative where the "
         "sample lies below the instrument's range"},
        {&ExportOptions::IncludeConductance, "conductance", "uS",
         "Skin conductance, 1000 / the resistance in kOhm, rounded to seven significant digits; "
         "n/a where the resistance is zero or negative"},
    };
    ordered_json sidecar;
    sidecar["SamplingFrequency"] = rowsPerSecond(options.UpdatePeriod);
    sidecar["StartTime"] = 0;
    sidecar["Columns"] = ordered_json::array();
    for (const ColumnInfo& c : kValueColumns) {
        if (options.*c.flag) {
            sidecar["Columns"].push_back(c.name);
        }
    }
    sidecar["SoftwareVersions"] = writtenBy();
    if (const std::string heading =
            options.IncludeHeaders ? unquoteHeading(options.heading) : std::string();
        !heading.empty()) {
        sidecar["Description"] = heading;
    }
    for (const ColumnInfo& c : kValueColumns) {
        if (options.*c.flag) {
            sidecar[c.name] = {{"Description", c.description}, {"Units", c.units}};
        }
    }
    writeJson(*outputs.sidecar, sidecar);
    if (outputs.eventsSidecar != nullptr) {
        ordered_json columns;
        columns["trial_type"] = {{"Description", "A tag marked during the recording"}};
        columns["value"] = {{"Description", "The tag's number"}};
        columns["sample"] = {
            {"Description", "The row of the physio file that carries the tag, from 0"}};
        writeJson(*outputs.eventsSidecar, columns);
    }

    if (outputs.description != nullptr) {
        ordered_json description;
        description["Name"] = outputs.datasetName;
        description["BIDSVersion"] = "1.8.0";
        description["DatasetType"] = "raw";
        description["GeneratedBy"] = {{{"Name", "zk File Export"}, {"Version", ZK_VERSION}}};
        writeJson(*outputs.description, description);
    }
}

}  // namespace zk::detail

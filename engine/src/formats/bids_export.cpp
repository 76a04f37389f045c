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
            char* const entry = table_.data() + static_cast<std::size_t>(v) * kEntry;
            char* out = entry;
            for (const Column& column : kColumns) {
                if (column.kind != ColumnKind::Value || !(o.*column.flag)) {
                    continue;
                }
                if (out != entry) {
                    *out++ = '\t';
                }
                char field[kMaxNumberFieldLength];
                const char* const end = column.field(field, 0, v);
                const char* const begin = field + (end != field && field[0] == ' ');
                out = end == field ? std::copy_n("n/a", 3, out) : std::copy(begin, end, out);
            }
            *out++ = '\n';
            entry[kEntry - 1] = static_cast<char>(out - entry);
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

nlohmann::ordered_json physioSidecar(const ExportOptions& options) {
    using nlohmann::ordered_json;
    ordered_json sidecar;
    sidecar["SamplingFrequency"] = rowsPerSecond(options.UpdatePeriod);
    sidecar["StartTime"] = 0;
    sidecar["Columns"] = ordered_json::array();
    for (const Column& c : kColumns) {
        if (c.kind == ColumnKind::Value && options.*c.flag) {
            sidecar["Columns"].push_back(c.key);
        }
    }
    sidecar["SoftwareVersions"] = writtenBy();
    // The heading, where the CSV writes its heading line.
    if (options.IncludeHeaders && options.heading && !options.heading->empty()) {
        sidecar["Description"] = *options.heading;
    }
    for (const Column& c : kColumns) {
        if (c.kind == ColumnKind::Value && options.*c.flag) {
            // A column without a unit counts steps of the instrument: arbitrary units.
            sidecar[c.key] = {{"Description", c.description},
                              {"Units", c.unit.empty() ? "a.u." : c.unit}};
        }
    }
    return sidecar;
}

nlohmann::ordered_json eventsSidecar() {
    nlohmann::ordered_json columns;
    columns["trial_type"] = {{"Description", "A tag marked during the recording"}};
    columns["value"] = {{"Description", "The tag's number"}};
    columns["sample"] = {
        {"Description", "The row of the physio file that carries the tag, from 0"}};
    return columns;
}

nlohmann::ordered_json datasetDescription(const std::string& name) {
    nlohmann::ordered_json description;
    description["Name"] = name;
    description["BIDSVersion"] = "1.8.0";
    description["DatasetType"] = "raw";
    description["GeneratedBy"] = {{{"Name", "zk File Export"}, {"Version", ZK_VERSION}}};
    return description;
}

// The run's files: the samples as they come, the events once every row is in, the
// descriptions at the end.
class BidsWriter final : public FormatWriter {
  public:
    BidsWriter(const BidsOutputs& outputs, const ExportOptions& options)
        : outputs_(outputs),
          options_(options),
          texts_(options),
          physio_(outputs.physio->sink()),
          origin_(rangeOriginMs(options)) {
        if (outputs_.events != nullptr) {
            events_ = "onset\tduration\ttrial_type\tvalue\tsample\n";
        }
    }

    std::optional<std::uint64_t> begin() override { return std::nullopt; }

    void rows(const RowBlock& block) override {
        for (const Row& row : block.rows) {
            if (outputs_.events != nullptr && row.hasTags()) {
                addEvents(block, row);
            }
            if (!row.hasRecord()) {
                continue;
            }
            texts_.append(physio_.text(), row.raw);
            ++samples_;
            if (physio_.text().size() >= GzipWriter::kBlock) {
                physio_.submit();
            }
        }
    }

    void finish(ExportResult& /*result*/) override {
        if (samples_ == 0) {
            // The tags marked before 0 ms of a recording without rows would be events of no run.
            throw Error(ErrorCode::NoRows, "has no rows to write; a BIDS run cannot be empty",
                        outputs_.physio->path());
        }
        physio_.finish();
        if (outputs_.events != nullptr) {
            outputs_.events->sink().write(events_.data(), events_.size());
        }
        writeJson(*outputs_.sidecar, physioSidecar(options_));
        if (outputs_.eventsSidecar != nullptr) {
            writeJson(*outputs_.eventsSidecar, eventsSidecar());
        }
        if (outputs_.description != nullptr) {
            writeJson(*outputs_.description, datasetDescription(outputs_.datasetName));
        }
    }

  private:
    // The events of the tags of `row`, one for each mark.
    void addEvents(const RowBlock& block, const Row& row) {
        // A range's run starts at its first row: the onsets count from there. The tags marked
        // before the first row go with it, at the start.
        const std::string onset = row.hasRecord() ? secondsText(row.timeMs - origin_) : "0.00";
        for (const TagMark& tag : block.tagsOf(row)) {
            events_.append(onset)
                .append("\t0\ttag\t")
                .append(std::to_string(tag.number))
                .append("\t")
                .append(std::to_string(samples_))
                .append("\n");
        }
        if (events_.size() >= kTextBlock) {
            outputs_.events->sink().write(events_.data(), events_.size());
            events_.clear();
        }
    }

    const BidsOutputs& outputs_;
    const ExportOptions& options_;
    const SampleTexts texts_;
    GzipWriter physio_;
    const std::int64_t origin_;
    std::string events_;
    std::uint64_t samples_ = 0;
};

}  // namespace

std::unique_ptr<FormatWriter> bidsWriter(const BidsOutputs& outputs, const ExportOptions& options) {
    return std::make_unique<BidsWriter>(outputs, options);
}

}  // namespace zk::detail

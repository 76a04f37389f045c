#include "zk/engine/analyses/epochs.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "recording/sample_values.hpp"
#include "zk/engine/analyses/responses.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk {

namespace {

constexpr std::size_t kConductance = columnIndex("conductance");

// One epoch being filled, with its own detector.
class OpenEpoch {
  public:
    OpenEpoch(std::uint32_t number, std::optional<std::uint16_t> tag, std::int32_t onsetMs,
              double rowsPerSecond)
        : detector_(rowsPerSecond) {
        epoch_.number = number;
        epoch_.tag = tag;
        epoch_.onsetMs = onsetMs;
    }

    void add(double conductance) {
        ++epoch_.rows;
        if (std::isnan(conductance)) {
            ++epoch_.rowsWithoutContact;
            detector_.gap();
            return;
        }
        detector_.add(conductance);
        sum_ += conductance;
        ++withContact_;
        epoch_.minUs = epoch_.minUs ? std::min(*epoch_.minUs, conductance) : conductance;
        epoch_.maxUs = epoch_.maxUs ? std::max(*epoch_.maxUs, conductance) : conductance;
    }

    Epoch close(std::int64_t endMs) {
        epoch_.durationMs = endMs - epoch_.onsetMs;
        if (withContact_ > 0) {
            epoch_.meanUs = sum_ / static_cast<double>(withContact_);
        }
        for (const auto& response : detector_.finish()) {
            ++epoch_.responses;
            epoch_.responseAmplitudeUs += response.amplitude;
        }
        return epoch_;
    }

  private:
    Epoch epoch_;
    ResponseDetector detector_;
    double sum_ = 0;
    std::uint64_t withContact_ = 0;
};

void appendSeconds(std::string& line, std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%" PRId64 ".%03" PRId64, ms < 0 ? "-" : "",
                  (ms < 0 ? -ms : ms) / 1000, (ms < 0 ? -ms : ms) % 1000);
    line += text;
}

void appendMicrosiemens(std::string& line, std::optional<double> value) {
    if (value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.4f", *value);
        line += text;
    }
}

}  // namespace

Result<std::vector<Epoch>> computeEpochs(ByteSource& source, const ExportOptions& options,
                                         const ProgressFn& progress) {
    if (options.UpdatePeriod < 1) {
        return Error(ErrorCode::InvalidSettings,
                     "epochs need an update period of at least 1 sample per row", source.name());
    }
    try {
        ExportOptions valueOptions = options;
        valueOptions.IncludeConductance = true;
        const detail::SampleValues values(valueOptions);
        const double perSecond = rowsPerSecond(options.UpdatePeriod);
        const std::int32_t stepMs = options.UpdatePeriod * kSampleIntervalMs;

        RowSource rows(source, options, progress, source.name());
        std::vector<Epoch> epochs;
        std::optional<OpenEpoch> open;
        std::int64_t endMs = 0;  // the end of the last row so far
        RowBlock block;
        while (rows.next(block)) {
            for (const Row& row : block.rows) {
                const std::int32_t time = row.hasRecord() ? row.timeMs : 0;
                if (!open) {
                    open.emplace(1, std::nullopt, time, perSecond);
                    endMs = time;
                }
                for (const TagMark& tag : block.tagsOf(row)) {
                    epochs.push_back(open->close(time));
                    open.emplace(static_cast<std::uint32_t>(epochs.size() + 1), tag.number, time,
                                 perSecond);
                }
                if (row.hasRecord()) {
                    open->add(values.of(kConductance, row.raw));
                    endMs = static_cast<std::int64_t>(row.timeMs) + stepMs;
                }
            }
        }
        if (!open) {
            open.emplace(1, std::nullopt, 0, perSecond);
        }
        epochs.push_back(open->close(endMs));
        return epochs;
    } catch (...) {
        return currentFailure(source.name(), "the epochs");
    }
}

std::string epochsCsv(const std::vector<Epoch>& epochs) {
    std::string text;
    for (const char* name : kEpochColumns) {
        text += name;
        text += ',';
    }
    text.back() = '\r';
    text += '\n';
    for (const Epoch& e : epochs) {
        text += std::to_string(e.number);
        text += ',';
        if (e.tag) {
            text += std::to_string(*e.tag);
        }
        text += ',';
        appendSeconds(text, e.onsetMs);
        text += ',';
        appendSeconds(text, e.durationMs);
        text += ',' + std::to_string(e.rows) + ',' + std::to_string(e.rowsWithoutContact) + ',';
        appendMicrosiemens(text, e.meanUs);
        text += ',';
        appendMicrosiemens(text, e.minUs);
        text += ',';
        appendMicrosiemens(text, e.maxUs);
        text += ',' + std::to_string(e.responses) + ',';
        appendMicrosiemens(text, e.responseAmplitudeUs);
        text += "\r\n";
    }
    return text;
}

}  // namespace zk

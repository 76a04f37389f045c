// EDF+ and BDF+ files, continuous (EDF+C, BDF+C).
//
// Each chosen value column is a signal: Data, Baseline, Resistance, Conductance. The time
// columns are the signals' own time (sample k lies at k × the period), and tags are
// annotations "Tag N" at the time of the row that carries them, one for each tag mark. Samples
// are stored as integers mapped linearly onto a physical range; every raw sample's integer is
// worked out once, before the rows come.

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "formats/edf_file.hpp"
#include "formats/format_writers.hpp"
#include "zk/engine/formats/edf.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk::detail {

namespace {

constexpr int kRecordMs = 10000;

struct Signal {
    std::string_view label;
    std::string_view unit;
    SignalRange range;
    std::vector<std::int32_t> digital;  // for each raw sample
};

// The digital value of a physical one; `clipped` is set when it lies outside the range.
std::int32_t toDigital(double value, const SignalRange& r, bool& clipped) {
    const double steps = (value - r.physicalMin) / (r.physicalMax - r.physicalMin) *
                         (static_cast<double>(r.digitalMax) - r.digitalMin);
    const double d = r.digitalMin + std::nearbyint(steps);
    clipped = d < r.digitalMin || d > r.digitalMax;
    return static_cast<std::int32_t>(
        std::clamp(d, static_cast<double>(r.digitalMin), static_cast<double>(r.digitalMax)));
}

// The file's signals and, for each raw sample, how many of its values are clipped.
struct Signals {
    std::vector<Signal> list;
    std::array<std::uint8_t, 65536> clipped{};
};

// A signal for each chosen value column, in the order of the columns.
Signals signalsFor(const ExportOptions& options, const SampleValues& values) {
    const bool bdf = options.format == OutputFormat::Bdf;
    Signals s;
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        const Column& column = kColumns[c];
        if (column.kind != ColumnKind::Value || !(options.*column.flag)) {
            continue;
        }
        const SignalRange& range = bdf ? column.bdfRange : column.edfRange;
        Signal signal{column.signal, column.unit, range, std::vector<std::int32_t>(65536)};
        for (std::int32_t v = 0; v < 65536; ++v) {
            const double value = values.of(c, static_cast<std::uint16_t>(v));
            bool clipped = false;
            if (std::isnan(value)) {
                signal.digital[v] = range.digitalMin;  // no conductance: the physical minimum
            } else {
                signal.digital[v] = toDigital(value, range, clipped);
            }
            s.clipped[v] += clipped ? 1 : 0;
        }
        s.list.push_back(std::move(signal));
    }
    return s;
}

// The file's shape, found by a first pass over the rows: how many there are, and how many
// annotation bytes the densest data record needs, so that every tag fits and the header is
// whole before the first record is written.
struct Plan {
    std::uint64_t rows = 0;
    std::uint64_t records = 0;
    std::size_t annotationBytes = 0;
};

constexpr std::string_view kEndText = "Recording ends";

// Where row `k` lies, in milliseconds after the start's whole second.
std::int64_t rowOnsetMs(std::uint64_t k, int stepMs, int fractionMs) {
    return fractionMs + static_cast<std::int64_t>(k) * stepMs;
}

std::string tagText(std::uint16_t number) {
    return "Tag " + std::to_string(number);
}

Plan plan(ByteSource& source, const ExportOptions& options, const ProgressFn& progress,
          const std::string& name, int perRecord, int stepMs, int fractionMs) {
    Plan p;
    std::size_t recordBytes = 0;  // of the annotations of the record being counted
    std::uint64_t record = 0;
    const auto endRecord = [&] { p.annotationBytes = std::max(p.annotationBytes, recordBytes); };
    const auto startRecord = [&](std::uint64_t r) {
        record = r;
        recordBytes = edfTimeKeepingBytes(rowOnsetMs(r * perRecord, stepMs, fractionMs));
    };
    startRecord(0);
    // Cancelling is honoured in this pass too; the progress shown is the writing pass's.
    RowSource rows(
        source, options,
        [&](std::uint64_t, std::uint64_t known) { return !progress || progress(0, known); }, name);
    RowBlock block;
    while (rows.next(block)) {
        for (const Row& row : block.rows) {
            if (row.hasRecord()) {
                if (p.rows / perRecord != record) {
                    endRecord();
                    startRecord(p.rows / perRecord);
                }
                ++p.rows;
            }
            if (options.IncludeTags) {
                const std::int64_t onset =
                    row.hasRecord() ? rowOnsetMs(p.rows - 1, stepMs, fractionMs) : fractionMs;
                for (const TagMark& tag : block.tagsOf(row)) {
                    recordBytes += edfAnnotationBytes(onset, tagText(tag.number));
                }
            }
        }
    }
    p.records = (p.rows + perRecord - 1) / perRecord;
    if (p.rows % perRecord != 0) {
        recordBytes += edfAnnotationBytes(rowOnsetMs(p.rows, stepMs, fractionMs), kEndText);
    }
    endRecord();
    return p;
}

// Data records, each assembled whole and passed on to the output in large writes.
class RecordWriter {
  public:
    RecordWriter(ByteSink& sink, const EdfLayout& layout, const Signals& signals, int stepMs,
                 int fractionMs)
        : sink_(sink),
          layout_(layout),
          signals_(signals),
          stepMs_(stepMs),
          fractionMs_(fractionMs),
          sampleBytes_(static_cast<std::size_t>(layout.recordBytes()) - layout.annotationBytes) {
        record_.resize(sampleBytes_);
        out_.reserve(kFlushBytes + layout.recordBytes());
    }

    void put(std::uint16_t raw) {
        const std::size_t signalCount = signals_.list.size();
        const std::size_t per = static_cast<std::size_t>(layout_.samplesPerRecord);
        for (std::size_t i = 0; i < signalCount; ++i) {
            const std::int32_t d = signals_.list[i].digital[raw];
            char* at = record_.data() + (i * per + filled_) * layout_.sampleBytes();
            at[0] = static_cast<char>(d);
            at[1] = static_cast<char>(d >> 8);
            if (layout_.bdf) {
                at[2] = static_cast<char>(d >> 16);
            }
        }
        last_ = raw;
        ++rows_;
        if (++filled_ == per) {
            finishRecord();
        }
    }

    // A tag of the record being filled, at `onsetMs`.
    void tag(std::int64_t onsetMs, std::uint16_t number) { tags_.push_back({onsetMs, number}); }

    std::int64_t onsetOf(std::uint64_t row) const { return rowOnsetMs(row, stepMs_, fractionMs_); }
    std::uint64_t rows() const noexcept { return rows_; }

    // The last data record, made whole with the last row's values, says where the rows end.
    void finish() {
        if (filled_ != 0) {
            ending_ = true;
            const std::uint64_t rows = rows_;
            endOnsetMs_ = onsetOf(rows);
            while (filled_ != 0) {
                put(last_);
            }
            rows_ = rows;
        }
        flush();
    }

  private:
    struct PendingTag {
        std::int64_t onsetMs;
        std::uint16_t number;
    };
    static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

    void finishRecord() {
        out_.append(record_.data(), record_.size());
        EdfRecordAnnotations tals(out_, onsetOf(records_ * layout_.samplesPerRecord));
        for (const PendingTag& t : tags_) {
            tals.add(t.onsetMs, tagText(t.number));
        }
        if (ending_) {
            tals.add(endOnsetMs_, kEndText);
        }
        if (!tals.finish(static_cast<std::size_t>(layout_.annotationBytes))) {
            throw Error(ErrorCode::SourceTruncated,
                        "the recording changed while it was exported: its tags no longer fit "
                        "the space counted for them",
                        sink_.name());
        }
        tags_.clear();
        filled_ = 0;
        ++records_;
        if (out_.size() >= kFlushBytes) {
            flush();
        }
    }

    void flush() {
        sink_.write(out_.data(), out_.size());
        out_.clear();
    }

    ByteSink& sink_;
    const EdfLayout& layout_;
    const Signals& signals_;
    int stepMs_;
    int fractionMs_;
    std::size_t sampleBytes_;
    std::vector<char> record_;
    std::string out_;
    std::vector<PendingTag> tags_;
    std::size_t filled_ = 0;
    std::uint64_t rows_ = 0;
    std::uint64_t records_ = 0;
    std::uint16_t last_ = 0;
    bool ending_ = false;
    std::int64_t endOnsetMs_ = 0;
};

// The file: begin() counts the rows and writes the header, rows() fills the data records.
class EdfWriter final : public FormatWriter {
  public:
    EdfWriter(ByteSource& source, ByteSink& sink, const std::string& name,
              const ExportOptions& options, const ProgressFn& progress, const RecordingFacts& facts)
        : source_(source),
          sink_(sink),
          name_(name),
          options_(options),
          progress_(progress),
          facts_(facts),
          values_(options),
          signals_(signalsFor(options, values_)),
          // Data records of whole rows, ten seconds long for the periods that divide 500 (as 1,
          // 10, 50 and 250 do), else as many rows as fit in ten seconds, at least one: few
          // enough records that their annotations cost little, short enough for a viewer to
          // page through.
          stepMs_(options.UpdatePeriod * kSampleIntervalMs),
          perRecord_(std::max(1, kRecordMs / stepMs_)),
          // A range's file starts at its first row: the start moves forward by as much, and the
          // start's fraction of a second goes into the onsets.
          origin_(rangeOriginMs(options)),
          fractionMs_(static_cast<int>(origin_ % 1000)) {}

    std::optional<std::uint64_t> begin() override {
        layout_ = layout();
        checkStart();
        const Plan p = plan(source_, options_, progress_, name_, perRecord_, stepMs_, fractionMs_);
        if (p.rows == 0) {
            throw Error(
                ErrorCode::NoRows,
                std::string("has no rows to write; ") + kind() + " cannot hold an empty recording",
                name_);
        }
        planned_ = p.rows;
        layout_.records = p.records;
        // At least the 114 bytes our files have always had; more where a record holds more
        // tags.
        const std::size_t sample = static_cast<std::size_t>(layout_.sampleBytes());
        layout_.annotationBytes = static_cast<int>(
            (std::max<std::size_t>(p.annotationBytes, 114) + sample - 1) / sample * sample);
        const std::string header = edfHeader(layout_, name_);
        sink_.write(header.data(), header.size());
        records_.emplace(sink_, layout_, signals_, stepMs_, fractionMs_);
        return planned_;
    }

    void rows(const RowBlock& block) override {
        for (const Row& row : block.rows) {
            if (row.hasRecord()) {
                clipped_ += signals_.clipped[row.raw];
            }
            if (options_.IncludeTags) {
                // The tags marked before the first row go with it, at the start.
                const std::int64_t onset =
                    row.hasRecord() ? records_->onsetOf(records_->rows()) : fractionMs_;
                for (const TagMark& tag : block.tagsOf(row)) {
                    records_->tag(onset, tag.number);
                }
            }
            if (row.hasRecord()) {
                records_->put(row.raw);
            }
        }
    }

    void finish(ExportResult& result) override {
        if (records_->rows() != planned_) {
            throw Error(ErrorCode::SourceTruncated,
                        "the recording became shorter while it was exported", facts_.path);
        }
        records_->finish();
        result.valuesClipped = clipped_;
        // The file has no field for free text.
        result.headingLeftOut = options_.IncludeHeaders && options_.heading.has_value();
    }

  private:
    const char* kind() const noexcept { return layout_.bdf ? "BDF+" : "EDF+"; }

    EdfLayout layout() const {
        EdfLayout l{.bdf = options_.format == OutputFormat::Bdf,
                    .start = laterStart(facts_.start, origin_ / 1000),
                    .startFractionMs = fractionMs_,
                    .recordMs = perRecord_ * stepMs_,
                    .samplesPerRecord = perRecord_,
                    .signals = {}};
        for (const Signal& s : signals_.list) {
            l.signals.push_back({std::string(s.label), std::string(s.unit), s.range.physicalMin,
                                 s.range.physicalMax, s.range.digitalMin, s.range.digitalMax});
        }
        return l;
    }

    void checkStart() const {
        const StartTime& t = layout_.start;
        if (t.year >= 1985 && t.year <= 2084) {
            return;
        }
        const std::string kindText = kind();
        throw Error(
            ErrorCode::InvalidSettings,
            "the start " + formatStartTime(t) +
                (facts_.estimated
                     ? ", estimated from the recording file's time, lies outside the "
                       "years 1985 to 2084 that " +
                           kindText +
                           " can hold; give the recording's start (zkexport --start, or "
                           "Recording start in Export Options)"
                     : " lies outside the years 1985 to 2084 that " + kindText + " can hold"),
            name_);
    }

    ByteSource& source_;
    ByteSink& sink_;
    const std::string name_;
    const ExportOptions& options_;
    const ProgressFn& progress_;
    const RecordingFacts& facts_;
    const SampleValues values_;
    const Signals signals_;
    const int stepMs_;
    const int perRecord_;
    const std::int64_t origin_;
    const int fractionMs_;
    EdfLayout layout_{};
    std::uint64_t planned_ = 0;
    std::uint64_t clipped_ = 0;
    std::optional<RecordWriter> records_;
};

}  // namespace

std::unique_ptr<FormatWriter> edfWriter(ByteSource& source, ByteSink& sink, const std::string& name,
                                        const ExportOptions& options, const ProgressFn& progress,
                                        const RecordingFacts& facts) {
    return std::make_unique<EdfWriter>(source, sink, name, options, progress, facts);
}

}  // namespace zk::detail

namespace zk {

ExportResult writeEdfFile(ByteSource& source, ByteSink& sink, const ExportOptions& options,
                          const StartTime& start, const ProgressFn& progress) {
    ExportResult result;
    detail::guarded(result, sink.name(), [&] {
        const detail::RecordingFacts facts{.path = sink.name(), .start = start, .estimated = false};
        const auto writer = detail::edfWriter(source, sink, sink.name(), options, progress, facts);
        detail::writeRows(*writer, source, options, progress, sink.name(), result);
    });
    return result;
}

}  // namespace zk

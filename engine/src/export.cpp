#include "zk/engine/export.hpp"

#include <array>
#include <climits>
#include <cstring>
#include <memory>

#include "background_writer.hpp"
#include "little_endian.hpp"
#include "zk/engine/conversions.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/row.hpp"

namespace zk {

namespace {

constexpr std::size_t kBlockRecords = 64 * 1024;  // 1.25 MiB of recording per read
constexpr std::size_t kFlushBytes = 1 << 20;      // output handed to the sink in 1 MiB blocks
// Room behind the flush mark: a held row, its tag text and its line end.
constexpr std::size_t kOutputSlack = RowTable::kMaxRowLength + kMaxNumberFieldLength + 2;

constexpr std::array<bool, 256> kExportTypes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = isExportType(static_cast<std::uint8_t>(c));
    }
    return table;
}();

const char* const kColumnNames[] = {"Time(msec)", "Data(16 bit)", "Baseline", "Resistance(kOhm)",
                                    "Tag Number"};

std::int32_t rowStep(const ExportSettings& settings) {
    // The schedule's step is 20 ms × UpdatePeriod, a 16-bit quantity.
    const int step = settings.UpdatePeriod * 20;
    if (step < SHRT_MIN || step > SHRT_MAX) {
        throw Error(ErrorCode::InvalidSettings,
                    "the update period " + std::to_string(settings.UpdatePeriod) +
                        " is out of range: it must lie between -1638 and 1638 samples");
    }
    return step;
}

class Scan {
  public:
    Scan(ByteSource& source, ByteSink& sink, const ExportSettings& settings,
         const ProgressFn& progress, ExportResult& result)
        : source_(source),
          sink_(sink),
          progress_(progress),
          result_(result),
          step_(rowStep(settings)),
          includeTags_(settings.IncludeTags),
          rows_(settings),
          input_(new unsigned char[kBlockRecords * kRecordSize]),
          writer_(sink, kFlushBytes + kOutputSlack) {
        output_ = lineEnd_ = heldRow_ = writer_.firstBuffer();
    }

    void run() {
        std::uint64_t known = source_.size() / kRecordSize;
        std::uint64_t done = 0;
        report(done, known);
        for (;;) {
            if (done == known) {
                // Out of known records: the recording may have grown meanwhile.
                const std::uint64_t now = source_.size() / kRecordSize;
                if (now < known) {
                    throw truncated(done);
                }
                if (now == known) {
                    break;
                }
                known = now;
            }
            if (done >= static_cast<std::uint64_t>(INT32_MAX)) {
                throw Error(ErrorCode::RecordIndexOverflow,
                            "the recording holds more than 2147483647 records", source_.name(),
                            done * kRecordSize);
            }
            const std::uint64_t count =
                std::min<std::uint64_t>({kBlockRecords, known - done, INT32_MAX - done});
            const std::size_t bytes = count * kRecordSize;
            if (source_.readAt(done * kRecordSize, input_.get(), bytes) < bytes) {
                throw truncated(done);
            }
            scanBlock(input_.get(), count, done);
            done += count;
            result_.recordsRead = done;
            report(done, known);
        }
        // The last row takes any tag still pending.
        finishHeldRow();
        flush();
        writer_.finish();
    }

  private:
    void scanBlock(const unsigned char* record, std::uint64_t count, std::uint64_t first) {
        // The scan state lives in locals here: the compiler can't keep members in registers
        // across the character stores into the output buffer.
        const unsigned char* const end = record + count * kRecordSize;
        const std::int32_t step = step_;
        const bool includeTags = includeTags_;
        std::int32_t next = nextOutputTime_;
        for (; record != end; record += kRecordSize) {
            if (!kExportTypes[record[record_offset::RecordType]]) {
                continue;  // neither a row nor a tag
            }
            if (detail::loadLe32(record + record_offset::TimeMs) >= next) {
                finishHeldRow();
                if (lineEnd_ - output_ >= static_cast<std::ptrdiff_t>(kFlushBytes)) {
                    flush();
                }
                heldRow_ =
                    rows_.write(lineEnd_, next, detail::loadLe16(record + record_offset::RawValue));
                if (__builtin_add_overflow(next, step, &next)) {
                    const auto index =
                        first + static_cast<std::uint64_t>((record - input_.get()) / kRecordSize);
                    throw Error(ErrorCode::ScheduleOverflow,
                                "the row schedule passes the largest time of 2147483647 ms at "
                                "record " +
                                    std::to_string(index + 1),
                                source_.name(), index * kRecordSize);
                }
            }
            if (record[record_offset::TagMarker] == 'T' && includeTags) {
                tagNumber_ = static_cast<std::uint16_t>(record[record_offset::TagLow] |
                                                        (record[record_offset::TagHigh] << 8));
                tagPending_ = true;
            }
        }
        nextOutputTime_ = next;
    }

    // Ends the held row: appends the pending tag, and the line end unless the row is empty.
    void finishHeldRow() noexcept {
        char* p = heldRow_;
        if (tagPending_) {
            p = writeNumberField(p, static_cast<std::int32_t>(tagNumber_));
            tagPending_ = false;
        }
        if (p != lineEnd_) {
            *p++ = '\r';
            *p++ = '\n';
            ++result_.rowsWritten;
        }
        lineEnd_ = heldRow_ = p;
    }

    // Hands the complete lines to the writer; called only when no row is held.
    void flush() {
        const std::size_t n = static_cast<std::size_t>(lineEnd_ - output_);
        if (n > 0) {
            output_ = writer_.handOver(output_, n);
        }
        lineEnd_ = heldRow_ = output_;
    }

    void report(std::uint64_t done, std::uint64_t known) {
        if (progress_ && !progress_(done, known)) {
            throw Error(ErrorCode::Cancelled, "the export was cancelled", sink_.name());
        }
    }

    Error truncated(std::uint64_t done) const {
        return Error(ErrorCode::SourceTruncated,
                     "the recording became shorter while it was being exported", source_.name(),
                     done * kRecordSize);
    }

    ByteSource& source_;
    ByteSink& sink_;
    const ProgressFn& progress_;
    ExportResult& result_;
    const std::int32_t step_;
    const bool includeTags_;
    RowTable rows_;
    std::unique_ptr<unsigned char[]> input_;
    detail::BackgroundWriter writer_;
    char* output_ = nullptr;  // the output buffer being filled
    // Complete lines end at lineEnd_; the held row (the last due record's row, waiting for the
    // next due record or the end) runs from there to heldRow_.
    char* lineEnd_ = nullptr;
    char* heldRow_ = nullptr;
    std::int32_t nextOutputTime_ = 0;
    std::uint16_t tagNumber_ = 0;
    bool tagPending_ = false;
};

}  // namespace

std::string Quote_Heading(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (const char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string columnHeaderText(const ExportSettings& settings) {
    const bool flags[] = {settings.IncludeTime, settings.IncludeData, settings.IncludeBaseline,
                          settings.IncludeResistance, settings.IncludeTags};
    std::string line;
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        if (flags[i]) {
            if (!line.empty()) {
                line += ',';
            }
            line += kColumnNames[i];
        }
    }
    return line;
}

ExportResult Export(ByteSource& source, ByteSink& sink, const ExportSettings& settings,
                    std::string_view HeadingText, const ProgressFn& progress) {
    ExportResult result;
    try {
        rowStep(settings);  // refuse a bad period before anything is written
        if (settings.IncludeHeaders) {
            std::string header;
            if (!HeadingText.empty()) {
                header.append(HeadingText).append("\r\n");
            }
            // The column-header line ends in CR CR LF, unlike every other line.
            header.append(columnHeaderText(settings)).append("\r\r\n");
            sink.write(header.data(), header.size());
        }
        Scan(source, sink, settings, progress, result).run();
    } catch (const Error& e) {
        result.error = e;
    }
    return result;
}

}  // namespace zk

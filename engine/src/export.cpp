#include "zk/engine/export.hpp"

#include <array>
#include <climits>
#include <cstring>
#include <memory>

#include "io_worker.hpp"
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
          buffers_(2 * kInputBytes + 2 * kOutputBytes) {
        char* p = buffers_.data();
        for (auto& buffer : input_) {
            buffer = reinterpret_cast<unsigned char*>(p);
            p += kInputBytes;
        }
        for (auto& buffer : output_) {
            buffer = p;
            p += kOutputBytes;
        }
        lineEnd_ = heldRow_ = output_[0];
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
            const std::uint64_t count = blockAt(done, known);
            const unsigned char* block = read(done, count);
            // Read the next block while this one is scanned.
            if (done + count < known) {
                readAhead(done + count, blockAt(done + count, known));
            }
            scanBlock(block, count, done);
            done += count;
            result_.recordsRead = done;
            report(done, known);
        }
        // The last row takes any tag still pending.
        finishHeldRow();
        flush();
        io_.wait(lastWrite_);
    }

  private:
    static std::uint64_t blockAt(std::uint64_t first, std::uint64_t known) {
        return std::min<std::uint64_t>({kBlockRecords, known - first, INT32_MAX - first});
    }

    // Queues the read of `count` records from record `first` into the input buffer that is not
    // being scanned.
    void readAhead(std::uint64_t first, std::uint64_t count) {
        Pending& ahead = ahead_;
        ahead.first = first;
        ahead.count = count;
        ahead.buffer = 1 - scanned_;
        ahead.got = 0;
        ahead.ticket = io_.submit([this, &ahead] {
            ahead.got = source_.readAt(ahead.first * kRecordSize, input_[ahead.buffer],
                                       ahead.count * kRecordSize);
        });
        ahead.active = true;
    }

    // The block of `count` records from record `first`: read ahead already, or read now.
    const unsigned char* read(std::uint64_t first, std::uint64_t count) {
        if (!ahead_.active || ahead_.first != first || ahead_.count != count) {
            if (ahead_.active) {
                io_.wait(ahead_.ticket);  // a read of another range: let it finish, unused
            }
            readAhead(first, count);
        }
        io_.wait(ahead_.ticket);
        ahead_.active = false;
        if (ahead_.got < count * kRecordSize) {
            throw truncated(first);
        }
        scanned_ = ahead_.buffer;
        return input_[scanned_];
    }

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
                if (lineEnd_ - output_[filling_] >= static_cast<std::ptrdiff_t>(kFlushBytes)) {
                    flush();
                }
                heldRow_ =
                    rows_.write(lineEnd_, next, detail::loadLe16(record + record_offset::RawValue));
                if (__builtin_add_overflow(next, step, &next)) {
                    const auto index = first + static_cast<std::uint64_t>(
                                                   (record - input_[scanned_]) / kRecordSize);
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

    // Queues the complete lines for writing and carries on in the other output buffer, once
    // its last write is done. Called only when no row is held.
    void flush() {
        char* const begin = output_[filling_];
        const auto n = static_cast<std::size_t>(lineEnd_ - begin);
        if (n > 0) {
            lastWrite_ = writes_[filling_] =
                io_.submit([this, begin, n] { sink_.write(begin, n); });
            filling_ = 1 - filling_;
            io_.wait(writes_[filling_]);
        }
        lineEnd_ = heldRow_ = output_[filling_];
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

    // A read of the recording queued on the I/O thread.
    struct Pending {
        std::uint64_t first = 0;  // first record
        std::uint64_t count = 0;  // records
        int buffer = 0;           // into input_[buffer]
        std::size_t got = 0;      // bytes read, once done
        detail::IoWorker::Ticket ticket = 0;
        bool active = false;
    };

    ByteSource& source_;
    ByteSink& sink_;
    const ProgressFn& progress_;
    ExportResult& result_;
    const std::int32_t step_;
    const bool includeTags_;
    RowTable rows_;
    // Two buffers each way: one is scanned or filled here while the I/O thread reads into or
    // writes from the other.
    static constexpr std::size_t kInputBytes = kBlockRecords * kRecordSize;
    static constexpr std::size_t kOutputBytes = kFlushBytes + kOutputSlack;
    LargeBuffer buffers_;
    unsigned char* input_[2] = {};
    char* output_[2] = {};
    int scanned_ = 0;  // input_ being scanned
    int filling_ = 0;  // output_ being filled
    Pending ahead_;
    detail::IoWorker::Ticket writes_[2] = {0, 0};  // the last write from each output buffer
    detail::IoWorker::Ticket lastWrite_ = 0;
    // Complete lines end at lineEnd_; the held row (the last due record's row, waiting for the
    // next due record or the end) runs from there to heldRow_.
    char* lineEnd_ = nullptr;
    char* heldRow_ = nullptr;
    std::int32_t nextOutputTime_ = 0;
    std::uint16_t tagNumber_ = 0;
    bool tagPending_ = false;
    // Last, so that it is destroyed first: its thread uses the buffers above.
    detail::IoWorker io_;
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

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/format_writers.hpp"
#include "recording/little_endian.hpp"
#include "recording/row_rule.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/row.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk {

namespace {

// The recording is scanned in chunks of kChunkRecords records. Each chunk is read, formatted and
// written by the lane (thread) that claims it.
// Each due record ends the row before it (a tag text of at most 6 characters and the line end)
// and writes its own row.
constexpr std::size_t kMaxTagText = 6;
constexpr std::size_t kMaxBytesPerRecord = kMaxTagText + 2 + RowTable::kMaxRowText;
// A chunk's output at most, with room for the last row's fixed-size copies and the line that
// ends the export.
constexpr std::size_t kChunkOutputBytes =
    kChunkRecords * kMaxBytesPerRecord + RowTable::kMaxRowLength + kMaxTagText + 2;

// How far ahead of the row being written its table entry is fetched.
constexpr std::size_t kPrefetchRecords = 32;

using detail::rowStep;

// Thrown in a lane that is told to stop because another lane has failed or was cancelled.
struct Stopped {};

// The scan's state between chunks, handed from lane to lane with the turn to scan.
struct ScanState {
    std::uint64_t done = 0;  // records scanned
    std::int32_t next = 0;   // the time at which the next row is due
    std::uint16_t tagNumber = 0;
    bool tagPending = false;  // a tag waits for the open row
    bool rowOpen = false;     // a row's text has been written, its line end not yet
    bool ended = false;       // the scan is complete
};

// Ends the open row whose text ends at `out`, its line having begun at `lineEnd` in this
// buffer (or in an earlier chunk's, when `rowOpen`): appends the pending tag, and the line
// end unless the row is empty. Returns where the next line begins.
inline char* endRow(char* out, const char* lineEnd, bool rowOpen, bool tagPending,
                    std::uint16_t tagNumber, std::uint64_t& rowsWritten) noexcept {
    if (tagPending) {
        out = writeNumberField(out, static_cast<std::int32_t>(tagNumber));
    }
    if (out != lineEnd || rowOpen) {
        *out++ = '\r';
        *out++ = '\n';
        ++rowsWritten;
    }
    return out;
}

// The CSV's side of the row rule for one chunk: a row's text is written when its record
// comes, its tag and line end when the next row's record (or the end) does.
template <bool kWrite, bool kPlain, bool kCount>
struct ChunkRows {
    RowTable::Writer& rows;
    const bool includeTags;
    const bool rowsEmpty;
    std::uint16_t tagNumber;
    bool tagPending;
    bool rowOpen;
    std::uint64_t rowsWritten = 0;
    std::uint64_t withoutConductance = 0;
    // The open row's text runs from lineEnd to rowEnd (or lies in an earlier chunk).
    char* lineEnd;
    char* rowEnd;

    void row(const unsigned char* record, std::int32_t time) noexcept {
        if constexpr (kWrite) {
            lineEnd = endRow(rowEnd, lineEnd, rowOpen, tagPending, tagNumber, rowsWritten);
            const std::uint16_t raw = detail::loadLe16(record + record_offset::RawValue);
            rowEnd = rows.template write<kPlain>(lineEnd, time, raw);
            if constexpr (kCount) {
                withoutConductance += raw <= kLastSampleWithoutConductance;
            }
        }
        tagPending = false;
        rowOpen = !rowsEmpty;
    }

    void tag(const unsigned char*, std::uint16_t number) noexcept {
        if (includeTags) {
            tagNumber = number;
            tagPending = true;
        }
    }
};

// The lanes' hand-over: the turn to scan (with the scan's state at the end of the chunk before)
// and the turn to write go from chunk to chunk in the order the chunks were claimed; a lane's
// failure, or a stop, ends every wait.
class Handoff {
  public:
    ScanState awaitScanTurn(std::uint64_t turn) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return scanTurn_ == turn || failure_ || stop_; });
        throwIfStopped();
        return state_;
    }

    void passScanTurn(std::uint64_t turn, const ScanState& s) {
        {
            std::lock_guard lock(mutex_);
            state_ = s;
            scanTurn_ = turn;
        }
        changed_.notify_all();
    }

    void awaitWriteTurn(std::uint64_t turn) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return writeTurn_ == turn || failure_ || stop_; });
        throwIfStopped();
    }

    void passWriteTurn(std::uint64_t turn) {
        {
            std::lock_guard lock(mutex_);
            writeTurn_ = turn;
        }
        changed_.notify_all();
    }

    // The lock under which the lanes also share their claims of chunks.
    std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }
    void wait(std::unique_lock<std::mutex>& lock) { changed_.wait(lock); }
    void notifyAll() { changed_.notify_all(); }

    // Called with the lock held: throws a lane's failure, or Stopped after a stop.
    void throwIfStopped() {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (stop_) {
            throw Stopped{};
        }
    }

    // A helper lane's failure, kept for the caller's thread unless the scan has already failed
    // or stopped.
    void fail(std::exception_ptr failure) noexcept {
        {
            std::lock_guard lock(mutex_);
            if (!failure_ && !stop_) {
                failure_ = std::move(failure);
            }
        }
        changed_.notify_all();
    }

    // Stops every lane at its next wait, after a failure or a cancel.
    void stop() noexcept {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
    }

    // Once every helper has ended.
    void rethrowFailure() const {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }
    const ScanState& last() const noexcept { return state_; }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t scanTurn_ = 0;   // the chunk whose state at its end is to be found now
    std::uint64_t writeTurn_ = 0;  // the chunk that may be written now
    ScanState state_;              // at the end of the last chunk scanned
    std::exception_ptr failure_;   // a helper's failure
    bool stop_ = false;
};

// The scan of the recording into rows.
//
// The scan is split into lanes: the caller's thread and, on a machine with more than one core,
// a helper thread. Whenever a lane is free it claims the next chunk of the recording, reads it,
// formats its rows into its own output buffer and writes that buffer to the sink, so the bytes
// it writes are still in its own core's cache. Each chunk is scanned twice: first quickly, only
// to find the scan's state at its end (the next row time, a pending tag, an open row), which is
// handed on to the next chunk's lane; then again to format its rows. So the lanes format at the
// same time, and only the quick scan goes one chunk after the other, in the order the chunks
// were claimed. Writes are handed on in the same order, so the sink receives the chunks in
// order.
//
// A row is held open until the next due record (or the end) because a tag met before then is
// appended to it; the open row's text may be written with one chunk and its tag and line end
// with the next.
class Scan {
  public:
    Scan(ByteSource& source, ByteSink& sink, const ExportOptions& options,
         const ProgressFn& progress, ExportResult& result, unsigned lanes)
        : source_(source),
          sink_(sink),
          progress_(progress),
          result_(result),
          step_(rowStep(options)),
          includeTags_(options.IncludeTags),
          includeConductance_(options.IncludeConductance),
          rows_(options),
          laneCount_(std::max(1U, lanes)),
          buffers_(laneCount_ * (kInputBytes + kChunkOutputBytes)) {
        char* p = buffers_.data();
        lanes_.reserve(laneCount_);
        helpers_.reserve(laneCount_ - 1);
        for (unsigned i = 0; i < laneCount_; ++i) {
            lanes_.emplace_back(rows_, reinterpret_cast<unsigned char*>(p), p + kInputBytes);
            p += kInputBytes + kChunkOutputBytes;
        }
    }

    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;

    ~Scan() { stopHelpers(); }

    void run() {
        try {
            known_ = sourceSize() / kRecordSize;
            report(0, known_);
            startHelpers();
            runLane(0);
            // The scan ends on this thread. The helpers finish by themselves: each with its
            // last write, or on finding the scan ended.
            joinHelpers();
            handoff_.rethrowFailure();
        } catch (...) {
            stopHelpers();
            finishResult();
            throw;
        }
        finishResult();
    }

  private:
    struct Lane {
        Lane(const RowTable& table, unsigned char* in, char* out)
            : rows(table), input(in), output(out) {}

        RowTable::Writer rows;
        unsigned char* input;
        char* output;
        std::uint64_t rowsWritten = 0;
        std::uint64_t withoutConductance = 0;
    };

    // Starts the helper threads. Should the system refuse one (a limit on processes, say), the
    // export goes on with the lanes it has, the caller's thread at least: lanes claim their
    // chunks as they come free, so any number of them will do.
    void startHelpers() {
        for (unsigned i = 1; i < laneCount_; ++i) {
            try {
                helpers_.emplace_back([this, i] { runHelper(i); });
            } catch (const std::system_error&) {
                return;
            }
        }
    }

    void runHelper(unsigned index) noexcept {
        try {
            runLane(index);
        } catch (...) {
            handoff_.fail(std::current_exception());
        }
    }

    // A chunk claimed by a lane: the turn it takes in the scan and in the writes, and its
    // records. The check at the end of the known records is a turn of its own.
    struct Claim {
        std::uint64_t turn = 0;
        std::uint64_t first = 0;  // first record (of a chunk of records)
        std::uint64_t count = 0;  // records
        enum class Kind { Records, EndCheck, IndexOverflow } kind = Kind::Records;
    };

    // Claims the next chunk for lane `index`; false once the scan has ended. A lane claims a
    // chunk whenever it is free, so a lane on a faster (or less busy) core takes more of them.
    // Only the caller's thread claims the end check: it asks the recording's length again
    // once it has reported every known record, so a recording that grows or shrinks by then
    // is seen to; meanwhile the helpers wait for more records or the end.
    bool claim(unsigned index, Claim& c) {
        auto lock = handoff_.lock();
        for (;;) {
            handoff_.throwIfStopped();
            if (ended_) {
                return false;
            }
            if (claimed_ < known_) {
                c.turn = turns_++;
                c.first = claimed_;
                if (claimed_ >= static_cast<std::uint64_t>(INT32_MAX)) {
                    c.count = 0;
                    c.kind = Claim::Kind::IndexOverflow;
                    return true;
                }
                c.count = std::min<std::uint64_t>(
                    {kChunkRecords, known_ - claimed_, INT32_MAX - claimed_});
                c.kind = Claim::Kind::Records;
                claimed_ += c.count;
                return true;
            }
            if (index == 0 && !endCheckClaimed_) {
                endCheckClaimed_ = true;
                c.turn = turns_++;
                c.count = 0;
                c.kind = Claim::Kind::EndCheck;
                return true;
            }
            handoff_.wait(lock);
        }
    }

    // Lane `index` claims chunks, reads, scans, formats and writes them, until the scan ends.
    void runLane(unsigned index) {
        Lane& lane = lanes_[index];
        Claim c;
        while (claim(index, c)) {
            std::size_t got = 0;
            if (c.count > 0) {
                // Read while the chunks before this one are scanned.
                std::lock_guard lock(sourceMutex_);
                got = source_.readAt(c.first * kRecordSize, lane.input, c.count * kRecordSize);
            }
            ScanState s = handoff_.awaitScanTurn(c.turn);
            char* out = lane.output;
            switch (c.kind) {
                case Claim::Kind::IndexOverflow:
                    throw detail::recordIndexOverflow(source_.name(), s.done);
                case Claim::Kind::EndCheck:
                    out = checkEnd(c.turn, s, lane);
                    break;
                case Claim::Kind::Records: {
                    if (got < c.count * kRecordSize) {
                        throw truncated(c.first);
                    }
                    ScanState rows = s;  // the state this chunk's rows start from
                    scanChunk<false>(lane, lane.input, c.count, s);
                    s.done += c.count;
                    handoff_.passScanTurn(c.turn + 1, s);
                    out = writeChunk(lane, c.count, rows);
                    assert(rows.next == s.next && rows.tagPending == s.tagPending &&
                           rows.tagNumber == s.tagNumber && rows.rowOpen == s.rowOpen);
                    break;
                }
            }
            handoff_.awaitWriteTurn(c.turn);
            if (out != lane.output) {
                sink_.write(lane.output, static_cast<std::size_t>(out - lane.output));
            }
            handoff_.passWriteTurn(c.turn + 1);
            if (index == 0 && c.kind == Claim::Kind::Records) {
                report(s.done, known_);  // known_ changes on this thread only
            }
        }
    }

    // The end check, on the caller's thread once every known record is scanned: reports them
    // and asks the length again. The recording may have grown (the scan goes on), stayed (the
    // scan ends, and the last row takes any tag still pending) or shrunk (a failure).
    char* checkEnd(std::uint64_t turn, ScanState& s, Lane& lane) {
        char* out = lane.output;
        if (s.done > reported_) {
            report(s.done, known_);
        }
        const std::uint64_t now = sourceSize() / kRecordSize;
        if (now < known_) {
            throw truncated(s.done);
        }
        if (now == s.done) {
            out = endRow(out, out, s.rowOpen, s.tagPending, s.tagNumber, lane.rowsWritten);
            s.tagPending = s.rowOpen = false;
            s.ended = true;
        }
        {
            const auto lock = handoff_.lock();
            known_ = now;
            ended_ = s.ended;
            endCheckClaimed_ = false;
        }
        handoff_.notifyAll();
        handoff_.passScanTurn(turn + 1, s);
        return out;
    }

    // Scans `count` records at `record`, advancing the scan state `s`. With kWrite, also
    // writes their rows to the lane's output and returns the end of the output, which includes
    // the text of the row left open; kPlain when the table's rows are plainRows(), kCount to
    // count the rows without conductance.
    template <bool kWrite, bool kPlain = true, bool kCount = false>
    char* scanChunk(Lane& lane, const unsigned char* record, std::uint64_t count, ScanState& s) {
        // The scan state lives in locals here: the compiler can't keep members in registers
        // across the character stores into the output buffer.
        const unsigned char* const begin = record;
        const unsigned char* const end = record + count * kRecordSize;
        RowTable::Writer rows = lane.rows;
        RowClock clock(step_, s.next);
        ChunkRows<kWrite, kPlain, kCount> chunk{.rows = rows,
                                                .includeTags = includeTags_,
                                                .rowsEmpty = rows_.rowsEmpty(),
                                                .tagNumber = s.tagNumber,
                                                .tagPending = s.tagPending,
                                                .rowOpen = s.rowOpen,
                                                .lineEnd = lane.output,
                                                .rowEnd = lane.output};
        for (; record != end; record += kRecordSize) {
            if constexpr (kWrite) {
                // Table entries are looked up in the order of the samples, which may jump
                // anywhere in the table: start loading the entry of a record further on.
                const unsigned char* const ahead = record + kPrefetchRecords * kRecordSize;
                rows.template prefetch<kPlain>(
                    detail::loadLe16((ahead < end ? ahead : record) + record_offset::RawValue));
            }
            if (!detail::stepRecord(record, clock, chunk)) {
                throw detail::scheduleOverflow(
                    source_.name(),
                    s.done + static_cast<std::uint64_t>(record - begin) / kRecordSize);
            }
        }
        s.next = clock.next();
        s.tagNumber = chunk.tagNumber;
        s.tagPending = chunk.tagPending;
        s.rowOpen = chunk.rowOpen;
        if constexpr (kWrite) {
            lane.rows = rows;
            lane.rowsWritten += chunk.rowsWritten;
            lane.withoutConductance += chunk.withoutConductance;
        }
        return chunk.rowEnd;
    }

    // Stops the helpers at their next wait, after a failure or a cancel.
    void stopHelpers() noexcept {
        handoff_.stop();
        joinHelpers();
    }

    void joinHelpers() noexcept {
        for (auto& helper : helpers_) {
            helper.join();
        }
        helpers_.clear();
    }

    // Once every lane has stopped.
    void finishResult() {
        result_.recordsRead = handoff_.last().done;
        result_.rowsWritten = 0;
        result_.rowsWithoutConductance = 0;
        for (const Lane& lane : lanes_) {
            result_.rowsWritten += lane.rowsWritten;
            result_.rowsWithoutConductance += lane.withoutConductance;
        }
    }

    std::uint64_t sourceSize() {
        std::lock_guard lock(sourceMutex_);
        return source_.size();
    }

    // On the caller's thread only.
    void report(std::uint64_t done, std::uint64_t known) {
        reported_ = done;
        if (progress_ && !progress_(done, known)) {
            throw Error(ErrorCode::Cancelled, "the export was cancelled", sink_.name());
        }
    }

    // Writes the rows of the chunk in the lane's input by the shortest path the columns allow.
    char* writeChunk(Lane& lane, std::uint64_t count, ScanState& s) {
        if (includeConductance_) {
            return rows_.plainRows() ? scanChunk<true, true, true>(lane, lane.input, count, s)
                                     : scanChunk<true, false, true>(lane, lane.input, count, s);
        }
        return rows_.plainRows() ? scanChunk<true, true, false>(lane, lane.input, count, s)
                                 : scanChunk<true, false, false>(lane, lane.input, count, s);
    }

    Error truncated(std::uint64_t done) const {
        return detail::truncatedSource(source_.name(), done);
    }

    static constexpr std::size_t kInputBytes = kChunkRecords * kRecordSize;

    ByteSource& source_;
    ByteSink& sink_;
    const ProgressFn& progress_;
    ExportResult& result_;
    const std::int32_t step_;
    const bool includeTags_;
    const bool includeConductance_;
    const RowTable rows_;
    const unsigned laneCount_;
    LargeBuffer buffers_;  // each lane's input and output buffers
    std::vector<Lane> lanes_;
    std::uint64_t reported_ = 0;  // the last progress reported

    std::mutex sourceMutex_;  // the source is used by one lane at a time

    Handoff handoff_;
    // Shared by the lanes, under the hand-over's lock.
    // Records known to be in the recording; written on the caller's thread only (at the start
    // and in the end check), so that thread reads it without the lock.
    std::uint64_t known_ = 0;
    std::uint64_t claimed_ = 0;  // records claimed by the lanes
    std::uint64_t turns_ = 0;    // turns claimed
    bool endCheckClaimed_ = false;
    bool ended_ = false;

    std::vector<std::thread> helpers_;
};

unsigned exportLanes() {
    // Two lanes: while one formats, the other writes. More would take more memory, for a gain
    // bounded by the writes, which go one at a time.
    return std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

}  // namespace

std::string columnHeaderText(const ExportOptions& options) {
    std::string line;
    for (const Column& column : kColumns) {
        if (options.*column.flag) {
            if (!line.empty()) {
                line += ',';
            }
            line += column.header;
        }
    }
    return line;
}

namespace {

// The heading line's text for what the user typed: between double quotes, with every double
// quote inside doubled, so the line is one CSV field. `say "hi"` gives `"say ""hi"""`; an empty
// text gives `""`.
std::string quoteHeading(std::string_view text) {
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

// The CSV: the header lines in begin(); the rows of a whole recording by the Scan, those of a
// range from the rows the export's loop gives, by the same row rule.
class CsvWriter final : public detail::FormatWriter {
  public:
    CsvWriter(ByteSink& sink, const ExportOptions& options, unsigned lanes, std::string recording)
        : sink_(sink),
          options_(options),
          lanes_(lanes),
          rowsEmpty_(!hasValueColumn(options)),
          recording_(std::move(recording)) {}

    std::optional<std::uint64_t> begin() override {
        rowStep(options_);  // refuse a bad period before anything is written
        if (options_.IncludeHeaders) {
            std::string header;
            if (options_.heading) {
                header.append(quoteHeading(*options_.heading)).append("\r\n");
            }
            // The column-header line ends in CR CR LF, unlike every other line.
            header.append(columnHeaderText(options_)).append("\r\r\n");
            sink_.write(header.data(), header.size());
        }
        return std::nullopt;
    }

    bool writeOwnRows(ByteSource& source, const ProgressFn& progress,
                      ExportResult& result) override {
        if (options_.range) {
            return false;
        }
        try {
            Scan(source, sink_, options_, progress, result, lanes_).run();
        } catch (const std::bad_alloc&) {
            // The scan's buffers grow with the recording's chunks, not the output: a lack of
            // memory for them is told of the recording.
            throw Error(ErrorCode::OutOfMemory, "not enough memory for the export", recording_);
        }
        return true;
    }

    void rows(const RowBlock& block) override {
        text_.clear();
        char number[kMaxNumberFieldLength];
        for (const Row& row : block.rows) {
            line_.clear();
            if (row.hasRecord()) {
                Assemble_Record(line_, options_, row.timeMs, row.raw);
            }
            if (options_.IncludeTags && row.hasTags()) {
                line_.append(number,
                             writeNumberField(number, static_cast<std::int32_t>(
                                                          block.tagsOf(row).back().number)));
            }
            if (!line_.empty() || (row.hasRecord() && !rowsEmpty_)) {
                text_.append(line_).append("\r\n");
            }
        }
        sink_.write(text_.data(), text_.size());
    }

    void finish(ExportResult& /*result*/) override {}

  private:
    ByteSink& sink_;
    const ExportOptions& options_;
    const unsigned lanes_;
    const bool rowsEmpty_;
    const std::string recording_;
    std::string text_, line_;
};

}  // namespace

std::unique_ptr<detail::FormatWriter> detail::csvWriter(ByteSink& sink,
                                                        const ExportOptions& options,
                                                        unsigned lanes,
                                                        const std::string& recording) {
    return std::make_unique<CsvWriter>(sink, options, lanes == 0 ? exportLanes() : lanes,
                                       recording);
}

ExportResult exportCsv(ByteSource& source, ByteSink& sink, const ExportOptions& options,
                       const ProgressFn& progress) {
    return detail::exportInLanes(source, sink, options, progress, exportLanes());
}

ExportResult detail::exportInLanes(ByteSource& source, ByteSink& sink, const ExportOptions& options,
                                   const ProgressFn& progress, unsigned lanes) {
    ExportResult result;
    guarded(result, source.name(), [&] {
        CsvWriter writer(sink, options, lanes, source.name());
        writeRows(writer, source, options, progress, sink.name(), result);
    });
    return result;
}

}  // namespace zk

#include "zk/engine/analyses/report.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

#include "recording/little_endian.hpp"
#include "recording/row_rule.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/record_blocks.hpp"
#include "zk/engine/recording/recording.hpp"
#include "zk/engine/recording/time_text.hpp"

namespace zk {

namespace {

constexpr std::int64_t kNominalStepMs = kSampleIntervalMs;
// A stretch without contact is listed when it lasts longer than a second.
constexpr std::uint64_t kListedNoContactSamples = kSamplesPerSecond;

// The rows of one rate: the export's RowClock, counted until the schedule would pass its end
// (where the export fails).
struct RateCount {
    explicit RateCount(int period) : clock(rowStepMsOrDefault(period)) {}
    RowClock clock;
    std::uint64_t rows = 0;
    bool overflowed = false;

    bool step(std::int32_t timeMs) {
        if (overflowed || !clock.due(timeMs)) {
            return false;
        }
        ++rows;
        overflowed = !clock.advance();
        return true;
    }

    // The count after `n` records of an export type stamped first, first + 20, first + 40 ...
    // ms: what step() would give for each in turn. Each time of the schedule up to the last
    // record's takes one record (the first not taken at or after it), until the records run out.
    // Empty where the schedule moves on by less than a sample or would reach its end.
    std::optional<RateCount> afterRun(std::int64_t first, std::uint64_t n) const {
        const std::int64_t stepMs = clock.step();
        if (overflowed) {
            return *this;
        }
        if (stepMs < kNominalStepMs) {
            return std::nullopt;
        }
        const std::int64_t last = first + static_cast<std::int64_t>(n - 1) * kNominalStepMs;
        std::int64_t next = clock.next();
        std::uint64_t made = 0;
        if (next <= last) {
            made =
                std::min<std::uint64_t>(n, static_cast<std::uint64_t>((last - next) / stepMs) + 1);
            next += static_cast<std::int64_t>(made) * stepMs;
        }
        if (next > INT32_MAX) {
            return std::nullopt;
        }
        RateCount moved = *this;
        moved.clock = RowClock(static_cast<std::int32_t>(stepMs), static_cast<std::int32_t>(next));
        moved.rows += made;
        return moved;
    }
};

// Follows a run of records for which a condition holds, listing the long ones.
struct StretchTracker {
    std::optional<Stretch> open;

    void extend(std::uint64_t record, std::int32_t timeMs) {
        if (!open) {
            open = Stretch{record, 0, timeMs, timeMs};
        }
        ++open->records;
        open->lastTimeMs = timeMs;
    }
    // Ends the run; returns it when it is at least `least` records long.
    std::optional<Stretch> close(std::uint64_t least) {
        std::optional<Stretch> done;
        if (open && open->records >= least) {
            done = open;
        }
        open.reset();
        return done;
    }
};

std::string number(float value) {
    std::string text = Format_Number_Field(value);
    return text.substr(text.find_first_not_of(' '));
}

std::string typeName(std::size_t type) {
    if (type > 0x20 && type < 0x7F && type != '"' && type != '\\') {
        return std::string(1, static_cast<char>(type));
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02zX", type);
    return hex;
}

// The length of the UTF-8 sequence at the start of `text`: 0 when it is not a whole, shortest
// encoding of a character (a stray or missing continuation byte, an overlong form, a surrogate,
// beyond U+10FFFF).
std::size_t utf8Length(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t n = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (n == 0 || text.size() < n) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // The second byte's range where the lead alone does not rule out a bad form.
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F) ||
        (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) > 0x8F)) {
        return 0;
    }
    return n;
}

// A JSON string: quotes, backslashes and control characters escaped, valid UTF-8 as it is, and
// each byte that is not part of valid UTF-8 as U+FFFD.
std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else if (const std::size_t n = utf8Length(text.substr(i)); n == 0) {
            out += "\\ufffd";
        } else {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

std::string hexBytes(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += kDigits[u >> 4];
        out += kDigits[u & 15];
    }
    return out;
}

// The export's verdict as far as it is known before the records are read: Verify_zkd_Format's,
// the schedule's and the record count's. A schedule that passes its end is found while reading.
std::optional<Error> verdictBeforeReading(ByteSource& source, const RecordingReport& r) {
    if (!Verify_zkd_Format(source)) {
        return Error(ErrorCode::NotARecording, kIncompatibleFileMessage, r.path);
    }
    if (!rowStepMs(r.updatePeriod)) {
        return Error(ErrorCode::InvalidSettings,
                     "the update period " + std::to_string(r.updatePeriod) + " is out of range",
                     r.path);
    }
    if (r.records > static_cast<std::uint64_t>(INT32_MAX)) {
        return Error(ErrorCode::RecordIndexOverflow,
                     "the recording holds more than 2147483647 records", r.path);
    }
    return std::nullopt;
}

// What the report counts, record by record in recording order, until finish() puts it in the
// report.
struct ReportScan {
    explicit ReportScan(RecordingReport& report) : r(report) {}

    // The first record's time stamp: it has no step before it.
    void start(std::int32_t firstTimeMs) {
        r.firstTimeMs = previous = firstTimeMs;
        previous -= kNominalStepMs;
    }

    // Most of a recording is plain: samples of one type, 20 ms apart, with skin contact and no
    // tag. Such a run is counted at once, its rows by the schedule's arithmetic; everything else
    // goes through step(). Once the arithmetic can't be used (a schedule that moves on by less
    // than a sample, or one near its end) every record goes through step().
    void block(const unsigned char* const block, std::uint64_t first, std::size_t count) {
        for (std::size_t k = 0; k < count;) {
            const unsigned char* const head = block + k * kRecordSize;
            step(first + k, head);
            ++k;
            const std::uint8_t type = head[record_offset::RecordType];
            if (runsCounted && isExportType(type) && !standing.open && !noContact.open) {
                k = countPlainRun(block, k, count, type);
            }
        }
    }

    void finish() {
        if (r.records > 0) {
            r.lastTimeMs = previous;
        }
        endStanding();
        endNoContact();
        r.recordTypes = types;
        r.taggedRecords = taggedRecords;
        r.samples = samples;
        r.noContactSamples = noContactSamples;
        for (std::size_t n = 0; n < r.rowsAtRate.size(); ++n) {
            r.rowsAtRate[n] = rates[n].rows;
        }
        r.rows = chosen.rows;
        // The conductance falls as the resistance rises.
        if (minRaw <= maxRaw) {
            r.minResistance = Calc_Resistance(minRaw);
            r.maxResistance = Calc_Resistance(maxRaw);
            r.minConductance = static_cast<float>(1000.0 / *r.maxResistance);
            r.maxConductance = static_cast<float>(1000.0 / *r.minResistance);
        }
    }

  private:
    // One record, whatever it holds.
    void step(std::uint64_t i, const unsigned char* rec) {
        const std::uint8_t type = rec[record_offset::RecordType];
        const std::int32_t t = detail::loadLe32(rec + record_offset::TimeMs);
        const bool tagged = rec[record_offset::TagMarker] == 'T';
        ++types[type];
        taggedRecords += tagged ? 1 : 0;
        if (static_cast<std::int64_t>(t) - previous != kNominalStepMs) {
            irregular(i, t);
        } else if (standing.open) {
            endStanding();
        }
        previous = t;

        if (!isExportType(type)) {
            return;
        }
        ++samples;
        for (std::size_t n = 0; n < 4; ++n) {
            rates[n].step(t);
        }
        if (chosen.step(t) && chosen.overflowed && !r.verdict) {
            r.verdict = detail::scheduleOverflow(r.path, i);
        }
        if (tagged) {
            tag(i, t, rec);
        }
        const std::uint16_t raw = detail::loadLe16(rec + record_offset::RawValue);
        if (raw <= kLastSampleWithoutConductance) {
            ++noContactSamples;
            noContact.extend(i, t);
            return;
        }
        if (noContact.open) {
            endNoContact();
        }
        // The resistance rises with the raw sample: its range is that of the samples.
        minRaw = std::min(minRaw, raw);
        maxRaw = std::max(maxRaw, raw);
    }

    // A tag on a sample, and the CSV line that carries it.
    void tag(std::uint64_t i, std::int32_t t, const unsigned char* rec) {
        const bool before = chosen.rows == 0;
        tagLineFirst = tagLineFirst || before;
        r.tagsBeforeFirstRow += before ? 1 : 0;
        const std::uint64_t row = before ? 0 : chosen.rows - 1 + tagLineFirst;
        r.tags.push_back({static_cast<std::uint16_t>(rec[record_offset::TagLow] |
                                                     rec[record_offset::TagHigh] << 8),
                          i, t, row, before});
    }

    // The plain run of records of `type` from k on, counted at once: returns where it ends, or k
    // when there is none or the schedules' arithmetic can't take it (then step() takes it).
    std::size_t countPlainRun(const unsigned char* const block, std::size_t k, std::size_t count,
                              std::uint8_t type) {
        const std::int64_t first = std::int64_t{previous} + kNominalStepMs;
        std::int64_t expected = first;
        std::uint16_t low = minRaw, high = maxRaw;
        std::size_t end = k;
        for (; end < count; ++end, expected += kNominalStepMs) {
            const unsigned char* rec = block + end * kRecordSize;
            const std::uint16_t raw = detail::loadLe16(rec + record_offset::RawValue);
            if (rec[record_offset::RecordType] != type || rec[record_offset::TagMarker] == 'T' ||
                detail::loadLe32(rec + record_offset::TimeMs) != expected ||
                raw <= kLastSampleWithoutConductance) {
                break;
            }
            low = std::min(low, raw);
            high = std::max(high, raw);
        }
        const std::uint64_t n = end - k;
        if (n == 0) {
            return k;
        }
        std::array<std::optional<RateCount>, 5> after;
        for (std::size_t c = 0; c < rates.size(); ++c) {
            after[c] = rates[c].afterRun(first, n);
            runsCounted = runsCounted && after[c];
        }
        if (!runsCounted) {
            return k;  // step() takes the run, one record at a time
        }
        for (std::size_t c = 0; c < rates.size(); ++c) {
            rates[c] = *after[c];
        }
        types[type] += n;
        samples += n;
        minRaw = low;
        maxRaw = high;
        previous = static_cast<std::int32_t>(expected - kNominalStepMs);
        return end;
    }

    // The rare cases, out of the loop's way.
    void endStanding() {
        if (auto stretch = standing.close(2)) {
            ++r.standingStretches;
            if (r.standing.size() < RecordingReport::kListed) {
                r.standing.push_back(*stretch);
            }
        }
    }
    void irregular(std::uint64_t i, std::int32_t t) {
        const std::int64_t step = static_cast<std::int64_t>(t) - previous;
        ++r.irregularSteps;
        r.backwardSteps += step < 0 ? 1 : 0;
        if (step > 0 && (!r.largestStep || step > r.largestStep->stepMs)) {
            r.largestStep = TimeStep{i, t, step};
        }
        if (r.firstIrregular.size() < RecordingReport::kListed) {
            r.firstIrregular.push_back({i, t, step});
        }
        if (step != 0) {
            endStanding();
            return;
        }
        if (!standing.open) {
            standing.extend(i - 1, previous);
        }
        standing.extend(i, t);
    }
    void endNoContact() {
        if (auto stretch = noContact.close(kListedNoContactSamples + 1)) {
            ++r.noContactStretches;
            if (r.noContact.size() < RecordingReport::kListed) {
                r.noContact.push_back(*stretch);
            }
        }
    }

    RecordingReport& r;
    // The four rates of the window and the report's own, counted as the export makes rows,
    // until a schedule would pass its end (where the export fails).
    std::array<RateCount, 5> rates{RateCount(1), RateCount(10), RateCount(50), RateCount(250),
                                   RateCount(r.updatePeriod)};
    RateCount& chosen = rates[4];
    bool runsCounted = true;
    bool tagLineFirst = false;  // a tag came before the first row: it has a line of its own
    StretchTracker standing, noContact;
    std::int32_t previous = 0;
    std::uint16_t minRaw = UINT16_MAX;
    std::uint16_t maxRaw = 0;
    std::array<std::uint64_t, 256> types{};
    std::uint64_t taggedRecords = 0, samples = 0, noContactSamples = 0;
};

}  // namespace

Result<RecordingReport> reportRecording(ByteSource& source, int UpdatePeriod,
                                        const ReportProgress& progress) try {
    RecordingReport r;
    r.path = source.name();
    r.updatePeriod = UpdatePeriod;
    r.fileBytes = source.size();
    r.records = r.fileBytes / kRecordSize;
    r.trailingBytes = r.fileBytes % kRecordSize;
    r.verdict = verdictBeforeReading(source, r);
    ReportScan scan(r);
    RecordBlocks blocks(source, r.records, ErrorCode::SourceTruncated);
    while (blocks.next()) {
        if (blocks.first() == 0) {
            scan.start(detail::loadLe32(blocks.data() + record_offset::TimeMs));
        }
        scan.block(blocks.data(), blocks.first(), blocks.count());
        if (progress && !progress(blocks.bytesDone(), r.fileBytes)) {
            return Error(ErrorCode::Cancelled, "the report was cancelled", r.path);
        }
    }
    scan.finish();
    return r;
} catch (...) {
    return currentFailure(source.name(), "the report");
}

Result<RecordingReport> reportRecording(ByteSource& source, const ExportOptions& options,
                                        const ReportProgress& progress) {
    Result<RecordingReport> report = reportRecording(source, options.UpdatePeriod, progress);
    if (report) {
        report->csv = ReportCsv{.headers = options.IncludeHeaders,
                                .heading = options.IncludeHeaders && options.heading.has_value(),
                                .tagsColumn = options.IncludeTags};
    }
    return report;
}

Result<RecordingReport> reportRecording(const std::string& path, int UpdatePeriod,
                                        const ReportProgress& progress) try {
    FileSource source(path);
    return reportRecording(source, UpdatePeriod, progress);
} catch (...) {
    return currentFailure(path, "the report");
}

std::string reportText(const RecordingReport& r, bool listTags) {
    std::string out = r.path + "\n";
    const auto line = [&out](const char* label, const std::string& text) {
        char head[32];
        std::snprintf(head, sizeof head, "  %-17s", label);
        out += head + text + "\n";
    };
    line("Verdict:", r.verdict ? "refused: " + std::string(r.verdict->what())
                               : std::string("valid: the export accepts it"));
    line("File:", std::to_string(r.fileBytes) + " bytes, " + std::to_string(r.records) +
                      " whole records" +
                      (r.trailingBytes ? ", and " + std::to_string(r.trailingBytes) +
                                             " trailing bytes that are not a whole record"
                                       : std::string()));
    if (r.firstTimeMs) {
        line("Time:", formatClock(*r.firstTimeMs, true) + " to " +
                          formatClock(*r.lastTimeMs, true) + " (TimeMs " +
                          std::to_string(*r.firstTimeMs) + " to " + std::to_string(*r.lastTimeMs) +
                          "), duration " +
                          formatClock(std::int64_t{*r.lastTimeMs} - *r.firstTimeMs, true));
    }
    std::string rows;
    for (std::size_t k = 0; k < r.rowsAtRate.size(); ++k) {
        rows += (k ? ", " : "") + std::to_string(r.rowsAtRate[k]) + " at " +
                rateCaption(RecordingReport::kRates[k]);
    }
    line("Rows:", rows);
    std::string types;
    for (std::size_t t = 0; t < r.recordTypes.size(); ++t) {
        if (r.recordTypes[t] != 0) {
            types +=
                (types.empty() ? "" : ", ") + typeName(t) + " " + std::to_string(r.recordTypes[t]);
        }
    }
    line("Record types:", types.empty() ? "none" : types);
    line("Tag markers:", std::to_string(r.taggedRecords) + " records");
    if (r.irregularSteps == 0) {
        line("Time stamps:", "every step is 20 ms");
    } else {
        std::string text = std::to_string(r.irregularSteps) + " steps other than 20 ms, " +
                           std::to_string(r.backwardSteps) + " of them backwards";
        if (r.largestStep) {
            text += "; the largest " + std::to_string(r.largestStep->stepMs) + " ms at record " +
                    std::to_string(r.largestStep->record) + " (" +
                    formatClock(r.largestStep->timeMs, true) + ")";
        }
        line("Time stamps:", text);
        for (const TimeStep& s : r.firstIrregular) {
            line("", "record " + std::to_string(s.record) + " (TimeMs " + std::to_string(s.timeMs) +
                         "): step " + std::to_string(s.stepMs) + " ms");
        }
        if (r.standingStretches != 0) {
            line("Standing still:", std::to_string(r.standingStretches) +
                                        " stretches where the time stamp does not move");
            for (const Stretch& s : r.standing) {
                line("", "records " + std::to_string(s.firstRecord) + " to " +
                             std::to_string(s.firstRecord + s.records - 1) + " at TimeMs " +
                             std::to_string(s.firstTimeMs));
            }
        }
    }
    line("No skin contact:",
         std::to_string(r.noContactSamples) + " of " + std::to_string(r.samples) +
             " samples (raw up to " + std::to_string(kLastSampleWithoutConductance) + "), " +
             std::to_string(r.noContactStretches) + " stretches longer than 1 s");
    for (const Stretch& s : r.noContact) {
        line("", formatClock(s.firstTimeMs, true) + " to " + formatClock(s.lastTimeMs, true) +
                     " (records " + std::to_string(s.firstRecord) + " to " +
                     std::to_string(s.firstRecord + s.records - 1) + ")");
    }
    if (r.minResistance) {
        line("Resistance:", number(*r.minResistance) + " to " + number(*r.maxResistance) +
                                " kOhm; conductance " + number(*r.minConductance) + " to " +
                                number(*r.maxConductance) + " uS");
    }
    line("Tags:", std::to_string(r.tags.size()) +
                      (r.tags.empty() || !listTags ? "" : " (" + tagRowsMeaning(r) + ")"));
    if (r.tagsBeforeFirstRow != 0) {
        const bool one = r.tagsBeforeFirstRow == 1;
        line("Before row 1:",
             std::to_string(r.tagsBeforeFirstRow) + (one ? " tag" : " tags") +
                 " marked before the first row: the CSV with the Tags column gives " +
                 (one ? "it" : "them") + " a data line of " + (one ? "its" : "their") +
                 " own, its first, and has " + std::to_string(csvDataLines(r, true)) +
                 " data lines; the CSV without the column has " +
                 std::to_string(csvDataLines(r, false)) + " and no line for " +
                 (one ? "it" : "them"));
    }
    for (const ReportTag& t : listTags ? r.tags : std::vector<ReportTag>{}) {
        char text[128];
        const auto row = r.csv ? csvSheetRow(r, t) : csvDataLine(r, t, true);
        std::snprintf(text, sizeof text, "    tag %5u  TimeMs %10d  %s  row %s", t.number, t.timeMs,
                      formatClock(t.timeMs, true).c_str(),
                      row ? std::to_string(*row).c_str() : "none");
        out += text;
        if (r.tagsBeforeFirstRow != 0 && !r.csv) {
            const auto without = csvDataLine(r, t, false);
            out += without ? " (" + std::to_string(*without) + " without the Tags column)"
                           : std::string(" (a line of its own; none without the Tags column)");
        }
        out += "\n";
    }
    return out;
}

std::string reportJson(const RecordingReport& r) {
    std::string out = "{";
    const auto key = [&out](const char* name) {
        if (out.size() > 1) {
            out += ",";
        }
        out += "\"";
        out += name;
        out += "\":";
    };
    const auto stretches = [](const std::vector<Stretch>& list) {
        std::string s = "[";
        for (const Stretch& x : list) {
            s += (s.size() > 1 ? "," : "") + std::string("{\"first_record\":") +
                 std::to_string(x.firstRecord) + ",\"records\":" + std::to_string(x.records) +
                 ",\"first_time_ms\":" + std::to_string(x.firstTimeMs) +
                 ",\"last_time_ms\":" + std::to_string(x.lastTimeMs) + "}";
        }
        return s + "]";
    };
    const auto optionalNumber = [](const auto& v) {
        if (!v) {
            return std::string("null");
        }
        if constexpr (std::is_same_v<std::decay_t<decltype(*v)>, float>) {
            char text[32];
            std::snprintf(text, sizeof text, "%.7g", static_cast<double>(*v));
            return std::string(text);
        } else {
            return std::to_string(*v);
        }
    };
    key("path"), out += jsonString(r.path);
    key("path_bytes"), out += "\"" + hexBytes(r.path) + "\"";
    key("valid"), out += r.verdict ? "false" : "true";
    key("message"), out += r.verdict ? jsonString(r.verdict->what()) : "null";
    key("file_bytes"), out += std::to_string(r.fileBytes);
    key("records"), out += std::to_string(r.records);
    key("trailing_bytes"), out += std::to_string(r.trailingBytes);
    key("first_time_ms"), out += optionalNumber(r.firstTimeMs);
    key("last_time_ms"), out += optionalNumber(r.lastTimeMs);
    key("duration_ms");
    out += r.firstTimeMs ? std::to_string(std::int64_t{*r.lastTimeMs} - *r.firstTimeMs) : "null";
    key("rows_at_period");
    out += "{";
    for (std::size_t k = 0; k < r.rowsAtRate.size(); ++k) {
        out += (k ? ",\"" : "\"") + std::to_string(RecordingReport::kRates[k]) +
               "\":" + std::to_string(r.rowsAtRate[k]);
    }
    out += "}";
    key("record_types");
    out += "{";
    bool first = true;
    for (std::size_t t = 0; t < r.recordTypes.size(); ++t) {
        if (r.recordTypes[t] != 0) {
            out += (first ? "" : ",") + jsonString(typeName(t)) + ":" +
                   std::to_string(r.recordTypes[t]);
            first = false;
        }
    }
    out += "}";
    key("tagged_records"), out += std::to_string(r.taggedRecords);
    key("irregular_steps"), out += std::to_string(r.irregularSteps);
    key("backward_steps"), out += std::to_string(r.backwardSteps);
    key("largest_step");
    out += r.largestStep ? "{\"record\":" + std::to_string(r.largestStep->record) +
                               ",\"time_ms\":" + std::to_string(r.largestStep->timeMs) +
                               ",\"step_ms\":" + std::to_string(r.largestStep->stepMs) + "}"
                         : std::string("null");
    key("first_irregular_steps");
    out += "[";
    for (const TimeStep& s : r.firstIrregular) {
        out += (out.back() == '[' ? "" : ",") + std::string("{\"record\":") +
               std::to_string(s.record) + ",\"time_ms\":" + std::to_string(s.timeMs) +
               ",\"step_ms\":" + std::to_string(s.stepMs) + "}";
    }
    out += "]";
    key("standing_stretches"), out += std::to_string(r.standingStretches);
    key("standing"), out += stretches(r.standing);
    key("samples"), out += std::to_string(r.samples);
    key("no_contact_samples"), out += std::to_string(r.noContactSamples);
    key("no_contact_stretches"), out += std::to_string(r.noContactStretches);
    key("no_contact"), out += stretches(r.noContact);
    key("resistance_kohm");
    out += "{\"min\":" + optionalNumber(r.minResistance) +
           ",\"max\":" + optionalNumber(r.maxResistance) + "}";
    key("conductance_us");
    out += "{\"min\":" + optionalNumber(r.minConductance) +
           ",\"max\":" + optionalNumber(r.maxConductance) + "}";
    key("update_period"), out += std::to_string(r.updatePeriod);
    key("rows"), out += std::to_string(r.rows);
    key("rows_with_tags"), out += std::to_string(csvDataLines(r, true));
    key("tags_before_first_row"), out += std::to_string(r.tagsBeforeFirstRow);
    key("tags");
    out += "[";
    for (const ReportTag& t : r.tags) {
        out += (out.back() == '[' ? "" : ",") + std::string("{\"number\":") +
               std::to_string(t.number) + ",\"record\":" + std::to_string(t.record) +
               ",\"time_ms\":" + std::to_string(t.timeMs) +
               ",\"row\":" + std::to_string(t.row + 1) +
               ",\"row_without_tags\":" + optionalNumber(csvDataLine(r, t, false)) + "}";
    }
    out += "]}";
    return out;
}

std::uint64_t csvDataLines(const RecordingReport& r, bool tagsColumn) {
    return r.rows + (tagsColumn && r.tagsBeforeFirstRow != 0 ? 1 : 0);
}

std::optional<std::uint64_t> csvDataLine(const RecordingReport& r, const ReportTag& tag,
                                         bool tagsColumn) {
    if (tagsColumn) {
        return tag.row + 1;
    }
    if (tag.beforeFirstRow) {
        return std::nullopt;
    }
    return tag.row + (r.tagsBeforeFirstRow != 0 ? 0 : 1);
}

std::optional<std::uint64_t> csvSheetRow(const RecordingReport& r, const ReportTag& tag) {
    if (!r.csv) {
        return std::nullopt;
    }
    const auto line = csvDataLine(r, tag, r.csv->tagsColumn);
    if (!line) {
        return std::nullopt;
    }
    // The column-header line ends in CR CR LF: a spreadsheet ends a row at the bare CR as well.
    return *line + (r.csv->headers ? 2 : 0) + (r.csv->heading ? 1 : 0);
}

std::string tagRowsMeaning(const RecordingReport& r) {
    const std::string rate = "\"" + rateCaption(r.updatePeriod) + "\"";
    if (!r.csv) {
        return "row: the CSV's data line at the rate " + rate +
               " that carries it, counted from 1 below the header lines";
    }
    return std::string("CSV row: the row a spreadsheet shows it in, in the CSV at ") + rate +
           (r.csv->tagsColumn ? " with" : " without") + " the Tags column" +
           (!r.csv->headers ? ", which has no header lines"
            : r.csv->heading
                ? ", below the heading, the column headers and the empty row their line end makes"
                : ", below the column headers and the empty row their line end makes");
}

std::vector<std::vector<std::string>> reportTagTable(const RecordingReport& r) {
    std::vector<std::vector<std::string>> table;
    table.push_back({"Tag", "TimeMs", "Time", "CSV row"});
    for (const ReportTag& t : r.tags) {
        const auto row = r.csv ? csvSheetRow(r, t) : csvDataLine(r, t, true);
        table.push_back({std::to_string(t.number), std::to_string(t.timeMs),
                         formatClock(t.timeMs, true),
                         row ? std::to_string(*row) : std::string("none")});
    }
    return table;
}

std::string copiedCells(const std::vector<std::vector<std::string>>& table,
                        const std::vector<std::pair<int, int>>& selected) {
    int top = INT_MAX, bottom = -1, left = INT_MAX, right = -1;
    std::vector<std::pair<int, int>> cells;
    for (const auto& [row, column] : selected) {
        if (row < 0 || column < 0 || static_cast<std::size_t>(row) >= table.size() ||
            static_cast<std::size_t>(column) >= table[static_cast<std::size_t>(row)].size()) {
            continue;
        }
        cells.emplace_back(row, column);
        top = std::min(top, row);
        bottom = std::max(bottom, row);
        left = std::min(left, column);
        right = std::max(right, column);
    }
    std::sort(cells.begin(), cells.end());
    std::string out;
    for (int row = top; row <= bottom; ++row) {
        for (int column = left; column <= right; ++column) {
            if (column > left) {
                out += '\t';
            }
            if (std::binary_search(cells.begin(), cells.end(), std::pair{row, column})) {
                out += table[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
            }
        }
        out += '\n';
    }
    return out;
}

}  // namespace zk

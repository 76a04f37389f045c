// EDF+ and BDF+ files, continuous (EDF+C, BDF+C), written with EDFlib.
//
// Each chosen value column is a signal: Data, Baseline, Resistance, Conductance. The time
// columns are the signals' own time (sample k lies at k × the period), and tags are
// annotations "Tag N" at the time of the row that carries them, one for each tag mark. Samples
// are stored as integers mapped linearly onto a physical range; every raw sample's integer is
// worked out once, before the rows come.

#include <edflib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "format_writers.hpp"
#include "zk/engine/formats.hpp"
#include "zk/engine/row_source.hpp"

namespace zk::detail {

namespace {

// A signal's ranges. The physical ends are written into the header as text of at most eight
// characters, so they are chosen to be exact there.
struct SignalRange {
    double physicalMin;
    double physicalMax;
    int digitalMin;
    int digitalMax;
};

constexpr int kRecordMs = 10000;
constexpr int kEdfMin = -32768, kEdfMax = 32767;
constexpr int kBdfMin = -8388608, kBdfMax = 8388607;

// The raw sample, 0..65535, as it is: the digital value less 32768, in either file type.
constexpr SignalRange kDataRange{0, 65535, kEdfMin, kEdfMax};
// The 121 levels 0.5, 0.55, ... 6.5, one digital step each.
constexpr SignalRange kBaselineRange{0.5, 6.5, -60, 60};
// Resistance from -10 kOhm (the formula gives -1.58 at its lowest) to 6.5 MOhm in steps of
// 0.0992 kOhm in EDF+; to 1.5 GOhm, beyond the formula's largest 1,284,484, in steps of 0.0894
// kOhm in BDF+.
constexpr SignalRange kEdfResistanceRange{-10, 6500, kEdfMin, kEdfMax};
constexpr SignalRange kBdfResistanceRange{-10, 1500000, kBdfMin, kBdfMax};
// Conductance from 0 to 100 uS: steps of 0.0015 uS in EDF+ (so within 0.0008 uS of the value),
// 0.000006 uS in BDF+. A sample without conductance is written as 0 uS.
constexpr SignalRange kEdfConductanceRange{0, 100, kEdfMin, kEdfMax};
constexpr SignalRange kBdfConductanceRange{0, 100, kBdfMin, kBdfMax};

struct Signal {
    const char* label;
    const char* unit;
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

Signals signalsFor(const ExportOptions& options, const SampleValues& values) {
    const bool bdf = options.format == OutputFormat::Bdf;
    Signals s;
    const auto add = [&](const char* label, const char* unit, const SignalRange& range,
                         auto valueOf) {
        Signal signal{label, unit, range, std::vector<std::int32_t>(65536)};
        for (std::int32_t v = 0; v < 65536; ++v) {
            const double value = valueOf(static_cast<std::uint16_t>(v));
            bool clipped = false;
            if (std::isnan(value)) {
                signal.digital[v] = range.digitalMin;  // no conductance: the physical minimum
            } else {
                signal.digital[v] = toDigital(value, range, clipped);
            }
            s.clipped[v] += clipped ? 1 : 0;
        }
        s.list.push_back(std::move(signal));
    };
    if (options.IncludeData) {
        add("Data", "", kDataRange, [](std::uint16_t v) { return static_cast<double>(v); });
    }
    if (options.IncludeBaseline) {
        add("Baseline", "", kBaselineRange, [&](std::uint16_t v) { return values.baseline(v); });
    }
    if (options.IncludeResistance) {
        add("Resistance", "kOhm", bdf ? kBdfResistanceRange : kEdfResistanceRange,
            [&](std::uint16_t v) { return values.resistance(v); });
    }
    if (options.IncludeConductance) {
        add("Conductance", "uS", bdf ? kBdfConductanceRange : kEdfConductanceRange,
            [&](std::uint16_t v) { return values.conductance(v); });
    }
    return s;
}

// Closes the file, unfinished, when the export fails.
struct EdfHandle {
    int handle;
    ~EdfHandle() {
        if (handle >= 0) {
            edfclose_file(handle);
        }
    }
};

Error edfFailure(const std::string& what, const std::string& name) {
    return Error(ErrorCode::WriteFailed, what, name);
}

// A write of EDFlib's that failed, with the system's reason when it gave one: EDFlib returns
// only its own codes, but the C library's write that failed under it leaves errno set.
Error writeFailure(const std::string& what, int err, const std::string& name) {
    return err != 0 ? systemError(ErrorCode::WriteFailed, what, err, name) : edfFailure(what, name);
}

// A number of the header: `width` characters of ASCII at `at`, left-aligned.
long long headerNumber(const char* header, std::size_t at, std::size_t width) {
    return std::strtoll(std::string(header + at, width).c_str(), nullptr, 10);
}

// EDFlib doesn't check the close of its file, so the last writes it held can be lost without a
// word (a full disk, a file size limit): the file must be as long as its header says, with the
// data records it was given.
void checkWholeFile(const std::string& path, const std::string& name, bool bdf,
                    std::uint64_t dataRecords, int closeErr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw systemError(ErrorCode::WriteFailed, "cannot read the file back", errno, name);
    }
    struct stat st {};
    char fixed[256] = {};
    bool whole = ::fstat(fd, &st) == 0 &&
                 (!S_ISREG(st.st_mode) || ::pread(fd, fixed, sizeof fixed, 0) == sizeof fixed);
    long long expected = -1;
    if (whole && S_ISREG(st.st_mode)) {  // else the null device, which keeps nothing
        const long long signals = headerNumber(fixed, 252, 4);
        std::vector<char> fields(static_cast<std::size_t>(std::max(0LL, signals)) * 256);
        whole =
            signals > 0 && signals <= 512 && headerNumber(fixed, 184, 8) == 256 * (signals + 1) &&
            headerNumber(fixed, 236, 8) == static_cast<long long>(dataRecords) &&
            ::pread(fd, fields.data(), fields.size(), 256) == static_cast<ssize_t>(fields.size());
        long long recordBytes = 0;
        for (long long i = 0; whole && i < signals; ++i) {
            recordBytes +=
                headerNumber(fields.data(), static_cast<std::size_t>(216 * signals + 8 * i), 8) *
                (bdf ? 3 : 2);
        }
        expected = 256 * (signals + 1) + static_cast<long long>(dataRecords) * recordBytes;
        whole = whole && st.st_size == expected;
    }
    ::close(fd);
    if (!whole && closeErr != 0) {
        throw systemError(ErrorCode::WriteFailed, "cannot finish the file", closeErr, name);
    }
    if (!whole) {
        throw edfFailure("cannot finish the file: it is " + std::to_string(st.st_size) +
                             " bytes long where its header gives " + std::to_string(expected),
                         name);
    }
}

}  // namespace

void writeEdf(ByteSource& source, const std::string& path, const std::string& name,
              const ExportOptions& options, const ProgressFn& progress, const RecordingFacts& facts,
              ExportResult& result) {
    const bool bdf = options.format == OutputFormat::Bdf;
    const SampleValues values(options);
    const Signals signals = signalsFor(options, values);
    const int signalCount = static_cast<int>(signals.list.size());

    // Data records of whole samples, ten seconds long for the periods that divide 500 (as 1, 10,
    // 50 and 250 do), else as many samples as fit in ten seconds, at least one. EDFlib writes
    // each data record with a call of its own into the file system, so records of a second
    // would take most of the export's time.
    const int period = options.UpdatePeriod;
    const int perRecord = std::max(1, kRecordMs / (period * 20));
    const int recordDuration = perRecord * period * 2000;  // units of 10 us

    // EDFlib stores one annotation per annotation signal in each data record: enough of them
    // for every tag, as the recording is now.
    int annotationSignals = 1;
    if (options.IncludeTags) {
        const RowCount count = countRows(source, options);
        const std::uint64_t records = std::max<std::uint64_t>(
            1, (count.rows + static_cast<std::uint64_t>(perRecord) - 1) / perRecord);
        annotationSignals = static_cast<int>(
            std::clamp<std::uint64_t>((count.tags + records - 1) / records, 1, 64));
    }

    // A range's file starts at its first row: the start moves forward by as much.
    const std::int64_t origin = rangeOriginMs(options);
    const StartTime t = laterStart(facts.start, origin / 1000);
    const char* kind = bdf ? "BDF+" : "EDF+";
    if (t.year < 1985 || t.year > 2084) {
        throw Error(ErrorCode::InvalidSettings,
                    "the start " + formatStartTime(t) +
                        (facts.estimated
                             ? ", estimated from the recording file's time, lies outside the "
                               "years 1985 to 2084 that " +
                                   std::string(kind) +
                                   " can hold; give the recording's start (zkexport --start, or "
                                   "Recording start in Export Options)"
                             : " lies outside the years 1985 to 2084 that " + std::string(kind) +
                                   " can hold"),
                    name);
    }

    EdfHandle file{edfopen_file_writeonly(
        path.c_str(), bdf ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS, signalCount)};
    if (file.handle < 0) {
        throw Error(ErrorCode::OpenFailed,
                    "cannot create the file (EDFlib error " + std::to_string(file.handle) + ")",
                    name);
    }
    const int h = file.handle;
    bool ok = edf_set_datarecord_duration(h, recordDuration) == 0 &&
              edf_set_number_of_annotation_signals(h, annotationSignals) == 0;
    for (int i = 0; i < signalCount && ok; ++i) {
        const Signal& s = signals.list[static_cast<std::size_t>(i)];
        ok = edf_set_samplefrequency(h, i, perRecord) == 0 &&
             edf_set_physical_minimum(h, i, s.range.physicalMin) == 0 &&
             edf_set_physical_maximum(h, i, s.range.physicalMax) == 0 &&
             edf_set_digital_minimum(h, i, s.range.digitalMin) == 0 &&
             edf_set_digital_maximum(h, i, s.range.digitalMax) == 0 &&
             edf_set_label(h, i, s.label) == 0 && edf_set_physical_dimension(h, i, s.unit) == 0;
    }
    if (!ok) {
        throw edfFailure("cannot set up the file's signals", name);
    }
    if (origin % 1000 != 0 &&
        edf_set_subsecond_starttime(h, static_cast<int>(origin % 1000) * 10000) != 0) {
        throw edfFailure("cannot set the start's fraction of a second", name);
    }
    if (edf_set_startdatetime(h, t.year, t.month, t.day, t.hour, t.minute, t.second) != 0) {
        throw Error(ErrorCode::InvalidSettings,
                    "the start " + formatStartTime(t) + " cannot be written into " + kind, name);
    }
    // EDF+ writes "X" for each patient and recording field left unknown.
    edf_set_equipment(h, "X");

    // One data record at a time: each signal's samples in turn.
    const std::size_t samples = static_cast<std::size_t>(signalCount) * perRecord;
    std::vector<short> shorts(bdf ? 0 : samples);
    std::vector<unsigned char> bytes(bdf ? 3 * samples : 0);
    int filled = 0;
    std::uint64_t dataRecords = 0, tags = 0;
    const auto put = [&](std::uint16_t raw) {
        for (int i = 0; i < signalCount; ++i) {
            const std::int32_t d = signals.list[static_cast<std::size_t>(i)].digital[raw];
            const std::size_t at = static_cast<std::size_t>(i) * perRecord + filled;
            if (bdf) {
                bytes[3 * at] = static_cast<unsigned char>(d);
                bytes[3 * at + 1] = static_cast<unsigned char>(d >> 8);
                bytes[3 * at + 2] = static_cast<unsigned char>(d >> 16);
            } else {
                shorts[at] = static_cast<short>(d);
            }
        }
        if (++filled == perRecord) {
            errno = 0;
            const int rc = bdf ? edf_blockwrite_digital_3byte_samples(h, bytes.data())
                               : edf_blockwrite_digital_short_samples(h, shorts.data());
            // EDFlib flushes each data record but does not check the flush: a write that
            // failed under it is known by errno, which only its failing writes set.
            if (rc != 0 || errno != 0) {
                throw writeFailure("cannot write the samples", errno, name);
            }
            filled = 0;
            ++dataRecords;
        }
    };

    RowSource rows(source, options, progress, name);
    RowBlock block;
    std::uint16_t last = 0;
    std::string text;
    while (rows.next(block)) {
        for (const Row& row : block.rows) {
            if (row.hasRecord()) {
                put(row.raw);
                last = row.raw;
                result.valuesClipped += signals.clipped[row.raw];
                result.rowsWithoutConductance +=
                    options.IncludeConductance && !SampleValues::hasConductance(row.raw);
                ++result.rowsWritten;
            }
            if (options.IncludeTags) {
                // The tags marked before the first row go with it, at the start.
                const long long onset = row.hasRecord() ? (row.timeMs - origin) * 10LL : 0;
                for (const TagMark& tag : block.tagsOf(row)) {
                    text = "Tag " + std::to_string(tag.number);
                    if (edfwrite_annotation_utf8(h, onset, -1, text.c_str()) != 0) {
                        throw edfFailure("cannot write the annotation " + text, name);
                    }
                    ++tags;
                }
            }
        }
    }
    if (result.rowsWritten == 0) {
        // EDFlib would make up a data record to hold the tags.
        throw Error(
            ErrorCode::NoRows,
            std::string("has no rows to write; ") + kind + " cannot hold an empty recording", name);
    }
    // The last data record is made whole with the last row's values.
    while (filled != 0) {
        put(last);
    }
    result.recordsRead = rows.recordsRead();
    result.tagsLeftOut =
        tags -
        std::min<std::uint64_t>(tags, dataRecords * static_cast<std::uint64_t>(annotationSignals));
    errno = 0;
    if (edfclose_file(std::exchange(file.handle, -1)) != 0) {
        throw writeFailure("cannot finish the file", errno, name);
    }
    checkWholeFile(path, name, bdf, dataRecords, errno);
    // The file has no field for free text.
    result.headingLeftOut = options.IncludeHeaders && !options.heading.empty();
}

}  // namespace zk::detail

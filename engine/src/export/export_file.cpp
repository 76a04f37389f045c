#include "zk/engine/export/export_file.hpp"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "formats/format_writers.hpp"
#include "platform/platform.hpp"
#include "recording/row_rule.hpp"
#include "zk/engine/export/validate.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/output_set.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/recording/row.hpp"

namespace zk {

namespace {

// The file behind the output, when it exists as a regular file: the one the path names, or the
// one a stream has been redirected into.
std::optional<FileId> outputIdentity(const OutputTarget& target) {
    const platform::InfoResult found = target.stream != nullptr
                                           ? platform::infoOf(target.streamHandle)
                                           : platform::infoOf(target.path);
    if (!found.info || found.info->kind != platform::FileKind::Regular) {
        return std::nullopt;
    }
    return found.info->id;
}

// The recording that the output would overwrite, if any.
std::optional<std::string> recordingUnder(const OutputTarget& target, FileSource& source,
                                          std::span<const std::string> otherRecordings) {
    const auto out = outputIdentity(target);
    if (!out) {
        return std::nullopt;
    }
    if (source.id() == out) {
        return source.name();
    }
    for (const std::string& other : otherRecordings) {
        if (platform::fileIdOf(other) == out) {
            return other;
        }
    }
    return std::nullopt;
}

Error overwritesRecording(const std::string& recording, const std::string& path) {
    return Error(ErrorCode::OpenFailed,
                 "is the recording " + recording + " itself; it is not overwritten with an export",
                 path);
}

// The formats other than CSV are written only into regular files (or into the null device,
// which takes anything): EDF+, BDF+ and workbooks go back into what they wrote (a header's
// count, a zip's directory), and a BIDS run's files are put in place together or not at all.
void checkSeekable(const std::string& path, OutputFormat format) {
    using platform::FileKind;
    const std::optional<platform::FileInfo> st = platform::infoOf(path).info;
    if (!st || st->kind == FileKind::Regular || st->kind == FileKind::Folder ||
        st->kind == FileKind::NullDevice) {
        return;  // nothing there yet, a file or a folder (refused later), or the null device
    }
    const char* what = st->kind == FileKind::Pipe     ? "a pipe"
                       : st->kind == FileKind::Socket ? "a socket"
                                                      : "a device";
    const FormatInfo& info = formatInfo(format);
    const char* why = info.folder ? "its files are put in place together"
                                  : "it goes back to finish what it wrote";
    throw Error(ErrorCode::OpenFailed,
                std::string("is ") + what + "; " + std::string(info.named) +
                    " cannot be written into a pipe or a device, for " + why +
                    " (only CSV is written into streams)",
                path);
}

// Refuses options that the format can't write, before anything is created.
void checkFormatOptions(const ExportOptions& options, const std::string& name) {
    if (auto error = validateOptions(options, name)) {
        throw *error;
    }
}

detail::RecordingFacts factsOf(FileSource& source, const ExportOptions& options) {
    detail::RecordingFacts facts{.path = source.name(), .start = {}, .estimated = false};
    if (options.choices.start) {
        facts.start = *options.choices.start;
        return facts;
    }
    const std::time_t modified = source.modified().value_or(std::time(nullptr));
    facts.start = estimatedStart(modified, source.size() / kRecordSize);
    facts.estimated = true;
    return facts;
}

// The recording's epochs, or the failure that stopped them.
std::vector<Epoch> epochsOf(FileSource& source, const ExportOptions& options,
                            const ProgressFn& progress) {
    auto epochs = computeEpochs(source, options, progress);
    if (!epochs) {
        throw epochs.error();
    }
    return std::move(*epochs);
}

// A format written into one file (CSV, a workbook, EDF+, BDF+): into the output's temporary file,
// put in place once whole.
ExportResult exportFile(FileSource& source, const OutputTarget& target,
                        const ExportOptions& options, const ProgressFn& progress) {
    ExportResult result;
    detail::guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        if (!formatInfo(options.format).streams) {
            checkSeekable(target.path, options.format);
        }
        detail::RecordingFacts facts = factsOf(source, options);
        if (options.epochs) {
            facts.epochs = epochsOf(source, options, progress);
        }
        OutputSet set(target.stop);
        OutputFile& file = set.add(target.path, target.existing);
        const detail::WriterOutputs outputs{
            .name = target.path, .sink = &file.sink(), .workbookPath = file.reopenPath()};
        const auto writer = detail::makeWriter(source, outputs, options, progress, facts);
        detail::writeRows(*writer, source, options, progress, target.path, result);
        set.commit();
        result.files = set.placed();
    });
    return result;
}

// The epochs table as CSV, into the target's file or stream.
ExportResult exportEpochs(FileSource& source, const OutputTarget& target,
                          const ExportOptions& options, const ProgressFn& progress) {
    ExportResult result;
    detail::guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        const std::vector<Epoch> epochs = epochsOf(source, options, progress);
        const std::string text = epochsCsv(epochs);
        result.rowsWritten = epochs.size();
        if (target.stream != nullptr) {
            target.stream->write(text.data(), text.size());
            return;
        }
        OutputSet set(target.stop);
        set.add(target.path, target.existing).sink().write(text.data(), text.size());
        set.commit();
        result.files = set.placed();
    });
    return result;
}

// How long an export waits for another one that is putting the same BIDS run in place.
constexpr auto kRunLockWait = std::chrono::seconds(60);

// Makes putting a BIDS run in place one step among exports: an exclusive lock (flock) on the
// run's lock file, which the holder removes before it gives the lock back. An export that
// waited may then hold a file that no longer has the name: it tries again with the one that
// has. The system gives the lock back when a holder ends, however it ends. (Where there is no
// flock, a file opened for exclusive access and deleted on closing does the same.)
class RunLock {
  public:
    RunLock(std::string path, const std::atomic<int>* stop) : path_(std::move(path)) {
        const auto until = std::chrono::steady_clock::now() + kRunLockWait;
        const auto stopped = [stop] { return stop != nullptr && stop->load() != 0; };
        while (stopped() || !tryLock()) {
            if (stopped()) {
                throw Error(ErrorCode::Cancelled,
                            "stopped while another export was putting the run in place", path_);
            }
            if (std::chrono::steady_clock::now() > until) {
                throw Error(ErrorCode::OpenFailed,
                            "another export has been putting this run in place for a minute; "
                            "not waiting longer",
                            path_);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock() {
        platform::removeFile(path_);
        platform::closeFile(file_);
    }

  private:
    bool tryLock() {
        const platform::Opened opened = platform::openLockFile(path_);
        if (opened.error != 0) {
            throw systemError(ErrorCode::OpenFailed, "cannot make the run's lock file",
                              opened.error, path_);
        }
        file_ = opened.handle;
        if (const int err = platform::tryLock(file_); err == 0) {
            const auto held = platform::infoOf(file_).info;
            const auto named = platform::infoOf(path_, platform::Links::DontFollow).info;
            if (held && named && held->id == named->id) {
                return true;
            }
        } else if (err != EWOULDBLOCK) {
            platform::closeFile(std::exchange(file_, SystemHandle()));
            platform::removeFile(path_);
            throw systemError(ErrorCode::OpenFailed, "cannot lock the run against other exports",
                              err, path_);
        }
        platform::closeFile(std::exchange(file_, SystemHandle()));
        return false;
    }

    std::string path_;
    SystemHandle file_;
};

// The dataset's name in its description: the last part of its folder's full path, so that
// "." and ".." name a real folder.
std::string datasetNameOf(const std::string& dataset) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::canonical(pathOf(dataset), ec);
    if (!ec && full.has_filename()) {
        return nameOf(full.filename());
    }
    std::string name = dataset;
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    return std::string(fileNameOf(name));
}

// A run of a BIDS dataset: each file is written beside its target, and the run is put in place
// as one (OutputSet) once every file is whole, under the run's lock (RunLock).
ExportResult exportBidsRun(FileSource& source, const OutputTarget& target,
                           const ExportOptions& options, const ProgressFn& progress,
                           std::span<const std::string> otherRecordings) {
    ExportResult result;
    detail::guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        const BidsRunFiles files = bidsRunFiles(target.path, options.choices);
        const std::string runFiles[] = {files.physio, files.sidecar, files.events,
                                        files.eventsSidecar};
        for (const std::string& path : runFiles) {
            if (auto recording = recordingUnder({.path = path}, source, otherRecordings)) {
                throw overwritesRecording(*recording, path);
            }
            if (target.existing == OutputFile::Existing::Refuse &&
                platform::infoOf(path, platform::Links::DontFollow).info) {
                throw Error(ErrorCode::OutputExists, "the output file exists already", path);
            }
            checkSeekable(path, options.format);
        }
        const auto earlierDescription = platform::infoOf(files.description).info;
        const bool hasDescription = earlierDescription.has_value();
        if (hasDescription && earlierDescription->kind != platform::FileKind::Regular) {
            throw Error(ErrorCode::OpenFailed,
                        std::string(earlierDescription->kind == platform::FileKind::Folder
                                        ? "is a folder"
                                        : "is not a file") +
                            "; a dataset's description is a JSON file",
                        files.description);
        }
        OutputSet set(target.stop);
        set.makeFolders(files.folder);
        detail::BidsOutputs outputs;
        outputs.physio = &set.add(files.physio, target.existing, "the samples");
        outputs.sidecar = &set.add(files.sidecar, target.existing, "the samples' description");
        if (options.IncludeTags) {
            outputs.events = &set.add(files.events, target.existing, "the events");
            outputs.eventsSidecar =
                &set.add(files.eventsSidecar, target.existing, "the events' description");
        }
        if (!hasDescription) {
            outputs.description = &set.addShared(files.description, "the dataset's description");
        }
        outputs.datasetName = datasetNameOf(target.path);
        const auto writer = detail::bidsWriter(outputs, options);
        detail::writeRows(*writer, source, options, progress, files.physio, result);

        const RunLock lock(files.lock, target.stop);
        set.commit(runFiles, target.existing);
        result.files = set.placed();
    });
    return result;
}

ExportResult exportAs(FileSource& source, const OutputTarget& given, const ExportOptions& options,
                      const ProgressFn& progress, std::span<const std::string> otherRecordings) {
    OutputTarget target = given;
    std::optional<FdSink> stream;
    if (target.stream == nullptr) {
        if (const auto handle = streamDescriptorOf(target.path)) {
            if (!platform::isOpen(*handle)) {
                return {.error = Error(ErrorCode::OpenFailed, "is not open", target.path)};
            }
            stream.emplace(*handle, target.path, target.stop);
            target.stream = &*stream;
            target.streamHandle = *handle;
        }
    }
    if (!formatInfo(options.format).streams && target.stream != nullptr) {
        return {.error = Error(ErrorCode::OpenFailed,
                               "is a stream; " + std::string(formatName(options.format)) +
                                   " is written only into files (CSV goes into a stream)",
                               target.path)};
    }
    if (options.format == OutputFormat::Bids) {
        return exportBidsRun(source, target, options, progress, otherRecordings);
    }
    if (auto recording = recordingUnder(target, source, otherRecordings)) {
        return {.error = overwritesRecording(*recording, target.path)};
    }
    if (options.epochs && options.format == OutputFormat::Csv) {
        return exportEpochs(source, target, options, progress);
    }
    if (target.stream != nullptr) {
        return exportCsv(source, *target.stream, options, progress);
    }
    return exportFile(source, target, options, progress);
}

}  // namespace

ExportResult exportToFile(FileSource& source, const OutputTarget& target,
                          const ExportOptions& options, const ProgressFn& progress,
                          std::span<const std::string> otherRecordings) {
    try {
        return exportAs(source, target, options, progress, otherRecordings);
    } catch (...) {
        return {.error = currentFailure(target.path, "the export")};
    }
}

}  // namespace zk

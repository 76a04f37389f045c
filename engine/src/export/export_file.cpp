#include "zk/engine/export/export_file.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "formats/format_writers.hpp"
#include "platform/platform.hpp"
#include "recording/row_rule.hpp"
#include "zk/engine/export/validate.hpp"
#include "zk/engine/formats/formats.hpp"
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

// A format written into one file (CSV, a workbook, EDF+, BDF+): into the output's temporary file,
// put in place once whole.
ExportResult exportFile(FileSource& source, const OutputTarget& target,
                        const ExportOptions& options, const ProgressFn& progress) {
    ExportResult result;
    std::optional<OutputFile> file;
    detail::guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        if (!formatInfo(options.format).streams) {
            checkSeekable(target.path, options.format);
        }
        detail::RecordingFacts facts = factsOf(source, options);
        if (options.epochs) {
            auto epochs = computeEpochs(source, options, progress);
            if (!epochs) {
                throw epochs.error();
            }
            facts.epochs = std::move(*epochs);
        }
        file.emplace(target.path, target.existing, target.stop);
        const detail::WriterOutputs outputs{
            .name = target.path, .sink = &file->sink(), .workbookPath = file->reopenPath()};
        const auto writer = detail::makeWriter(source, outputs, options, progress, facts);
        detail::writeRows(*writer, source, options, progress, target.path, result);
        file->commit();
        result.files.push_back(target.path);
    });
    if (!result.ok() && file) {
        file->discard();
    }
    return result;
}

// The epochs table as CSV, into the target's file or stream.
ExportResult exportEpochs(FileSource& source, const OutputTarget& target,
                          const ExportOptions& options, const ProgressFn& progress) {
    ExportResult result;
    std::optional<OutputFile> file;
    detail::guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        auto epochs = computeEpochs(source, options, progress);
        if (!epochs) {
            throw epochs.error();
        }
        const std::string text = epochsCsv(*epochs);
        result.rowsWritten = epochs->size();
        if (target.stream == nullptr) {
            file.emplace(target.path, target.existing, target.stop);
        }
        ByteSink& sink = file ? file->sink() : *target.stream;
        sink.write(text.data(), text.size());
        if (file) {
            file->commit();
            result.files.push_back(target.path);
        }
    });
    if (!result.ok() && file) {
        file->discard();
    }
    return result;
}

// Makes the folders of `path` that are missing, remembering them so that they can be removed
// again after a failure.
void makeFolders(const std::string& folder, std::vector<std::string>& made) {
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (const int err = platform::makeFolder(part); err == 0) {
            made.push_back(part);
        } else if (err != EEXIST) {
            throw systemError(ErrorCode::OpenFailed, "cannot make the folder", err, part);
        }
    }
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

// Puts a BIDS run in place as one: the new files, and the removal of the earlier run's files
// that the new one does not have. Each earlier file is kept under a hidden name beside it until
// the whole new run is in place; after a failure the new files are taken away and the earlier
// ones put back, so a run is never a mix of two exports.
class RunCommit {
  public:
    // `runFiles`: every name of the run; `written`: the files of the new run, in order.
    void commit(std::span<const std::string> runFiles, std::span<OutputFile* const> written,
                OutputFile::Existing existing) {
        try {
            for (const std::string& name : runFiles) {
                keepAside(name, existing, std::ranges::any_of(written, [&](OutputFile* f) {
                              return f->path() == name;
                          }));
            }
            for (OutputFile* file : written) {
                file->commit();
                placed_.push_back(file->path());
            }
        } catch (...) {
            rollBack();
            throw;
        }
        for (const auto& [name, kept] : kept_) {
            platform::removeFile(kept);
        }
    }

    // Takes the new files away and puts the earlier ones back.
    void rollBack() noexcept {
        for (const std::string& path : placed_) {
            if (std::ranges::none_of(kept_, [&](const auto& k) { return k.first == path; })) {
                platform::removeFile(path);
            }
        }
        for (const auto& [name, kept] : kept_) {
            // Where the new file never took the name, both names are the earlier file, and
            // the rename leaves them both.
            if (platform::renameFile(kept, name) == 0) {
                platform::removeFile(kept);
            }
        }
        placed_.clear();
        kept_.clear();
    }

    // The files put in place, in order.
    const std::vector<std::string>& placed() const noexcept { return placed_; }

  private:
    // Keeps the earlier run's file `name`, if there is one, under a hidden name: a second name
    // of a file that the new run replaces (it stays in place until then), the file itself
    // moved aside when the new run has none.
    void keepAside(const std::string& name, OutputFile::Existing existing, bool replaced) {
        const platform::InfoResult st = platform::infoOf(name, platform::Links::DontFollow);
        if (!st.info) {
            if (st.error == ENOENT) {
                return;
            }
            throw systemError(ErrorCode::OpenFailed, "cannot look at the run's file", st.error,
                              name);
        }
        if (existing == OutputFile::Existing::Refuse) {
            throw Error(ErrorCode::OutputExists, "the output file exists already", name);
        }
        std::string real = name;
        if (replaced && st.info->kind == platform::FileKind::Link) {
            // The new file replaces the link's target, as OutputFile does.
            std::error_code ec;
            real = std::filesystem::canonical(name, ec).string();
            if (ec) {
                real = name;
            }
        }
        const std::filesystem::path at(real);
        const std::string kept =
            (at.parent_path() / ("." + at.filename().string() + "." +
                                 std::to_string(platform::processId()) + ".earlier"))
                .string();
        platform::removeFile(kept);  // left by an export of this process id that was killed
        if (!(replaced && platform::linkFile(real, kept) == 0)) {
            if (const int err = platform::renameFile(real, kept); err != 0) {
                throw systemError(ErrorCode::WriteFailed,
                                  "cannot keep the earlier run's file aside", err, name);
            }
        }
        kept_.emplace_back(real, kept);
    }

    std::vector<std::pair<std::string, std::string>> kept_;  // (name, hidden name)
    std::vector<std::string> placed_;
};

// The dataset's name in its description: the last part of its folder's full path, so that
// "." and ".." name a real folder.
std::string datasetNameOf(const std::string& dataset) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::canonical(dataset, ec);
    if (!ec && full.has_filename()) {
        return full.filename().string();
    }
    std::string name = dataset;
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    return std::string(fileNameOf(name));
}

// A run of a BIDS dataset: each file is written beside its target, and the run is put in place
// as one (RunCommit) once every file is whole, under the run's lock (RunLock).
ExportResult exportBidsRun(FileSource& source, const OutputTarget& target,
                           const ExportOptions& options, const ProgressFn& progress,
                           std::span<const std::string> otherRecordings) {
    ExportResult result;
    std::vector<std::string> madeFolders;
    std::optional<OutputFile> physio, sidecar, events, eventsSidecar, description;
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
        makeFolders(files.folder, madeFolders);
        const auto open = [&](std::optional<OutputFile>& file, const std::string& path,
                              OutputFile::Existing existing, const char* what) {
            file.emplace(path, existing, target.stop);
            if (auto* sink = dynamic_cast<FdSink*>(&file->sink())) {
                sink->setWhat(what);
            }
        };
        open(physio, files.physio, target.existing, "the samples");
        open(sidecar, files.sidecar, target.existing, "the samples' description");
        if (options.IncludeTags) {
            open(events, files.events, target.existing, "the events");
            open(eventsSidecar, files.eventsSidecar, target.existing, "the events' description");
        }
        if (!hasDescription) {
            open(description, files.description, OutputFile::Existing::Refuse,
                 "the dataset's description");
        }
        const detail::BidsOutputs outputs{
            .physio = &*physio,
            .sidecar = &*sidecar,
            .events = events ? &*events : nullptr,
            .eventsSidecar = eventsSidecar ? &*eventsSidecar : nullptr,
            .description = description ? &*description : nullptr,
            .datasetName = datasetNameOf(target.path)};
        const auto writer = detail::bidsWriter(outputs, options);
        detail::writeRows(*writer, source, options, progress, files.physio, result);

        const RunLock lock(files.lock, target.stop);
        std::vector<OutputFile*> written;
        for (std::optional<OutputFile>* file : {&physio, &sidecar, &events, &eventsSidecar}) {
            if (*file) {
                written.push_back(&**file);
            }
        }
        RunCommit run;
        run.commit(runFiles, written, target.existing);
        if (description) {
            try {
                description->commit();
                result.files = run.placed();
                result.files.push_back(description->path());
                return;
            } catch (const Error& e) {
                if (e.code() != ErrorCode::OutputExists) {
                    run.rollBack();
                    throw;
                }
                // Another program gave the dataset its description meanwhile: it stays.
            }
        }
        result.files = run.placed();
    });
    if (!result.ok()) {
        for (std::optional<OutputFile>* file :
             {&physio, &sidecar, &events, &eventsSidecar, &description}) {
            if (*file) {
                (*file)->discard();
            }
        }
        for (auto folder = madeFolders.rbegin(); folder != madeFolders.rend(); ++folder) {
            platform::removeFolder(*folder);
        }
    }
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

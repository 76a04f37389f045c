#include "zk/engine/export_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <vector>

#include "format_writers.hpp"
#include "row_rule.hpp"
#include "zk/engine/formats.hpp"
#include "zk/engine/paths.hpp"
#include "zk/engine/row.hpp"

namespace zk {

namespace {

// The file behind the output, when it exists as a regular file: the one the path names, or the
// one a stream has been redirected into.
std::optional<struct stat> outputIdentity(const OutputTarget& target) {
    struct stat st {};
    const bool found = target.stream != nullptr
                           ? target.streamFd >= 0 && ::fstat(target.streamFd, &st) == 0
                           : ::stat(target.path.c_str(), &st) == 0;
    if (!found || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return st;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The recording that the output would overwrite, if any.
std::optional<std::string> recordingUnder(const OutputTarget& target, FileSource& source,
                                          std::span<const std::string> otherRecordings) {
    const auto out = outputIdentity(target);
    if (!out) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(source.fd(), &st) == 0 && sameFile(*out, st)) {
        return source.name();
    }
    for (const std::string& other : otherRecordings) {
        if (::stat(other.c_str(), &st) == 0 && sameFile(*out, st)) {
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
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        return;
    }
    if (S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3)) {
        return;  // the null device
    }
    const char* what = S_ISFIFO(st.st_mode)   ? "a pipe"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "a device";
    const char* name = format == OutputFormat::Xlsx  ? "a workbook"
                       : format == OutputFormat::Edf ? "EDF+"
                       : format == OutputFormat::Bdf ? "BDF+"
                                                     : "a BIDS run";
    const char* why = format == OutputFormat::Bids ? "its files are put in place together"
                                                   : "it goes back to finish what it wrote";
    throw Error(ErrorCode::OpenFailed,
                std::string("is ") + what + "; " + name +
                    " cannot be written into a pipe or a device, for " + why +
                    " (only CSV is written into streams)",
                path);
}

// Refuses options that the format can't write, before anything is created.
void checkFormatOptions(const ExportOptions& options, const std::string& name) {
    detail::rowStep(options);
    const std::string format = std::string(formatName(options.format));
    if (isSignalFormat(options.format)) {
        if (options.UpdatePeriod < 1) {
            throw Error(ErrorCode::InvalidSettings,
                        "the update period " + std::to_string(options.UpdatePeriod) +
                            " is not a rate: " + format + " needs a period of 1 or more samples",
                        name);
        }
        if (!options.IncludeData && !options.IncludeBaseline && !options.IncludeResistance &&
            !options.IncludeConductance) {
            throw Error(
                ErrorCode::InvalidSettings,
                format + " needs a column of values: data, baseline, resistance or conductance",
                name);
        }
    }
    if (options.epochs && options.format != OutputFormat::Csv &&
        options.format != OutputFormat::Xlsx) {
        throw Error(ErrorCode::InvalidSettings,
                    "epochs are written as CSV or into a workbook, not as " + format, name);
    }
    if (options.format == OutputFormat::Bids) {
        const FormatChoices& c = options.choices;
        if (!isBidsLabel(c.subject) || !isBidsLabel(c.task) ||
            (!c.session.empty() && !isBidsLabel(c.session))) {
            throw Error(ErrorCode::InvalidSettings,
                        "the subject, session and task labels must be letters and digits only "
                        "(the subject and the task are required)",
                        name);
        }
    }
}

detail::RecordingFacts factsOf(FileSource& source, const ExportOptions& options) {
    detail::RecordingFacts facts{.path = source.name(), .start = {}, .estimated = false};
    if (options.choices.start) {
        facts.start = *options.choices.start;
        return facts;
    }
    struct stat st {};
    const std::time_t modified = ::fstat(source.fd(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    facts.start = estimatedStart(modified, source.size() / kRecordSize);
    facts.estimated = true;
    return facts;
}

// Runs a writer, turning what it throws into the result's error.
template <class Write>
void guarded(ExportResult& result, const std::string& name, Write write) {
    try {
        write();
    } catch (const Error& e) {
        result.error = e;
    } catch (const std::bad_alloc&) {
        result.error = Error(ErrorCode::OutOfMemory, "not enough memory for the export", name);
    }
}

// A workbook, EDF+ or BDF+ file: written by its library through the output's temporary file.
ExportResult exportThroughLibrary(FileSource& source, const OutputTarget& target,
                                  const ExportOptions& options, const ProgressFn& progress) {
    ExportResult result;
    std::optional<OutputFile> file;
    guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        checkSeekable(target.path, options.format);
        detail::RecordingFacts facts = factsOf(source, options);
        if (options.epochs) {
            auto epochs = computeEpochs(source, options, progress);
            if (!epochs) {
                throw epochs.error();
            }
            facts.epochs = std::move(*epochs);
        }
        file.emplace(target.path, target.existing, target.stop);
        if (options.format == OutputFormat::Xlsx) {
            detail::writeWorkbook(source, file->reopenPath(), target.path, options, progress, facts,
                                  result);
        } else {
            detail::writeEdf(source, file->sink(), target.path, options, progress, facts, result);
        }
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
    guarded(result, target.path, [&] {
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
        if (::mkdir(part.c_str(), 0777) == 0) {
            made.push_back(part);
        } else if (errno != EEXIST) {
            throw systemError(ErrorCode::OpenFailed, "cannot make the folder", errno, part);
        }
    }
}

// A run of a BIDS dataset: each file is written beside its target and all are put in place
// once every one is whole.
ExportResult exportBidsRun(FileSource& source, const OutputTarget& target,
                           const ExportOptions& options, const ProgressFn& progress,
                           std::span<const std::string> otherRecordings) {
    ExportResult result;
    std::vector<std::string> madeFolders;
    std::optional<OutputFile> physio, sidecar, events, eventsSidecar, description;
    guarded(result, target.path, [&] {
        checkFormatOptions(options, target.path);
        const BidsRunFiles files = bidsRunFiles(target.path, options.choices);
        for (const std::string* path :
             {&files.physio, &files.sidecar, &files.events, &files.eventsSidecar}) {
            if (auto recording = recordingUnder({.path = *path}, source, otherRecordings)) {
                throw overwritesRecording(*recording, *path);
            }
            checkSeekable(*path, options.format);
        }
        makeFolders(files.folder, madeFolders);
        physio.emplace(files.physio, target.existing, target.stop);
        sidecar.emplace(files.sidecar, target.existing, target.stop);
        if (options.IncludeTags) {
            events.emplace(files.events, target.existing, target.stop);
            eventsSidecar.emplace(files.eventsSidecar, target.existing, target.stop);
        }
        struct stat st {};
        if (::stat(files.description.c_str(), &st) != 0) {
            description.emplace(files.description, OutputFile::Existing::Refuse, target.stop);
        }
        std::string dataset = target.path;
        while (dataset.size() > 1 && dataset.back() == '/') {
            dataset.pop_back();
        }
        const detail::BidsOutputs outputs{
            .physio = &*physio,
            .sidecar = &*sidecar,
            .events = events ? &*events : nullptr,
            .eventsSidecar = eventsSidecar ? &*eventsSidecar : nullptr,
            .description = description ? &*description : nullptr,
            .datasetName = std::string(fileNameOf(dataset))};
        detail::writeBids(source, outputs, options, progress, result);
        for (std::optional<OutputFile>* file : {&physio, &sidecar, &events, &eventsSidecar}) {
            if (*file) {
                (*file)->commit();
                result.files.push_back((*file)->path());
            }
        }
        if (description) {
            try {
                description->commit();
                result.files.push_back(description->path());
            } catch (const Error& e) {
                if (e.code() != ErrorCode::OutputExists) {
                    throw;
                }
                // Another program gave the dataset its description meanwhile: it stays.
            }
        }
    });
    if (!result.ok()) {
        for (std::optional<OutputFile>* file :
             {&physio, &sidecar, &events, &eventsSidecar, &description}) {
            if (*file) {
                (*file)->discard();
            }
        }
        for (auto folder = madeFolders.rbegin(); folder != madeFolders.rend(); ++folder) {
            ::rmdir(folder->c_str());
        }
    }
    return result;
}

}  // namespace

ExportResult exportToFile(FileSource& source, const OutputTarget& given,
                          const ExportOptions& options, const ProgressFn& progress,
                          std::span<const std::string> otherRecordings) {
    OutputTarget target = given;
    std::optional<FdSink> stream;
    if (target.stream == nullptr) {
        if (const auto fd = streamDescriptorOf(target.path)) {
            if (::fcntl(*fd, F_GETFD) < 0) {
                return {.error = Error(ErrorCode::OpenFailed, "is not open", target.path)};
            }
            stream.emplace(*fd, target.path, target.stop);
            target.stream = &*stream;
            target.streamFd = *fd;
        }
    }
    if (options.format != OutputFormat::Csv && target.stream != nullptr) {
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
    if (options.format != OutputFormat::Csv) {
        return exportThroughLibrary(source, target, options, progress);
    }
    if (options.epochs) {
        return exportEpochs(source, target, options, progress);
    }
    if (target.stream != nullptr) {
        return Export(source, *target.stream, options, progress);
    }
    std::optional<OutputFile> file;
    try {
        file.emplace(target.path, target.existing, target.stop);
    } catch (const Error& e) {
        return {.error = e};
    }
    ExportResult result = Export(source, file->sink(), options, progress);
    if (!result.ok()) {
        file->discard();
        return result;
    }
    try {
        file->commit();
        result.files.push_back(target.path);
    } catch (const Error& e) {
        result.error = e;
    }
    return result;
}

}  // namespace zk

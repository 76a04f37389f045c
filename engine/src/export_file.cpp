#include "zk/engine/export_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>

#include "zk/engine/paths.hpp"

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
    if (auto recording = recordingUnder(target, source, otherRecordings)) {
        return {.error = Error(ErrorCode::OpenFailed,
                               "is the recording " + *recording +
                                   " itself; it is not overwritten with an export",
                               target.path)};
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
    } catch (const Error& e) {
        result.error = e;
    }
    return result;
}

}  // namespace zk

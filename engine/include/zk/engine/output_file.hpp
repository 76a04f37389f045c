#pragma once

#include <string>

#include "zk/engine/byte_sink.hpp"

namespace zk {

/// An output file that is never left half-written. A regular file (new or existing) is written
/// to a temporary file beside it and renamed onto it by commit(); until then an earlier file of
/// that name is untouched, and a discarded or destroyed OutputFile removes its temporary file.
/// Where the file system allows, the temporary file has no name at all until commit(), so not
/// even a killed program leaves one behind.
/// A target that is not a regular file (a device such as /dev/null, a pipe) is written directly.
class OutputFile {
  public:
    /// What to do when the target exists as a regular file.
    enum class Existing {
        Refuse,   ///< fail with Error(OutputExists), also if it appears before commit()
        Replace,  ///< replace it at commit(), keeping its permissions
    };

    /// Prepares writing to `path`; a symbolic link is followed, so its target is replaced.
    /// Throws Error(OpenFailed) when the target is a folder or can't be created, and
    /// Error(OutputExists) as `existing` says.
    OutputFile(const std::string& path, Existing existing);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    ByteSink& sink() noexcept { return sink_; }
    const std::string& path() const noexcept { return path_; }

    /// Finishes the file: closes it and, for a regular file, renames it onto the target.
    /// Throws Error(WriteFailed) or Error(OutputExists); the temporary file is then removed.
    void commit();

    /// Drops what was written: removes the temporary file. Does nothing once committed.
    void discard() noexcept;

  private:
    std::string path_;      // as given, for messages
    std::string target_;    // where the file ends up (symbolic links resolved)
    std::string tempPath_;  // the named temporary file, if one is used
    Existing existing_;
    int fd_ = -1;
    bool unnamed_ = false;  // fd_ is an unnamed file in the target's folder
    bool done_ = false;
    FdSink sink_;
};

}  // namespace zk

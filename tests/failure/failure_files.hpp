#pragma once

// Scratch folders, recordings, processes and privileges for the failure-injection tests.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "test_recording.hpp"

namespace zk::failure {

namespace fs = std::filesystem;

/// The user that permission tests run as when the tests run as root ("nobody").
inline constexpr uid_t kNobody = 65534;

/// A fresh folder under the temporary folder, open to every user (so a test can drop to
/// kNobody and still reach it), removed with all its contents at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    /// The names in `folder` (this folder when empty) that look like temporary files of an
    /// unfinished write: ".NAME.RANDOM.part" or "NAME.tmp".
    std::vector<std::string> leftovers(const fs::path& folder = {}) const;

  private:
    fs::path path_;
};

using zk::test::Rec;
using zk::test::recordingBytes;

/// `count` records of type P, 20 ms apart from time 0, with raw values that vary.
std::string steadyRecording(std::size_t count);

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

/// A finished process: its exit status (or -signal), standard output and standard error.
using zk::test::Finished;

Finished runProgram(const std::string& program, const std::vector<std::string>& args,
                    std::optional<uid_t> uid = std::nullopt);

/// Runs zkexport (the program built beside the tests).
Finished runZkexport(const std::vector<std::string>& args, std::optional<uid_t> uid = std::nullopt);

/// True when the tests run as root and so can act as kNobody, and mount file systems.
bool isRoot();

}  // namespace zk::failure

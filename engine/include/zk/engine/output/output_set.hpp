#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zk/engine/output/output_file.hpp"

namespace zk {

/// The files of one output, put in place together or not at all. Each file is written beside
/// its target (an OutputFile); commit() puts every one in place, and a set that is destroyed
/// without being committed drops what it wrote and removes the folders it made, deepest first,
/// so a failure leaves the disk as it found it.
class OutputSet {
  public:
    /// With `stop`, the files' pipes and stalled readers end with Error(Cancelled) once set.
    explicit OutputSet(const std::atomic<int>* stop = nullptr) : stop_(stop) {}
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;
    ~OutputSet();

    /// Makes the folders of `folder` that are missing. Throws Error(OpenFailed) naming the one
    /// that cannot be made.
    void makeFolders(const std::string& folder);
    /// The same, returning the system's error (0 when done) and the folder it concerns, for a
    /// caller that words the failure itself.
    int makeFolders(const std::string& folder, std::string& failed);

    /// Starts a file of the set; `what` names its contents in the messages of a failed write.
    /// Throws what OutputFile does.
    OutputFile& add(const std::string& path, OutputFile::Existing existing,
                    const char* what = nullptr);
    /// Starts a file that other outputs share (a dataset's description): written only where
    /// there is none yet, put in place after the others, and left alone if another program
    /// makes it meanwhile.
    OutputFile& addShared(const std::string& path, const char* what = nullptr);

    /// Puts the files in place in the order they were added, all or none. `earlier` names the
    /// files of an earlier output that this one replaces or removes (a run's files): each is
    /// kept under a hidden name until every new file is in place, and put back after a failure;
    /// with `existing` Refuse, any of them existing fails. Without them a single file is just
    /// renamed onto its target. Throws Error(WriteFailed), Error(OutputExists) or
    /// Error(OpenFailed).
    void commit(std::span<const std::string> earlier = {},
                OutputFile::Existing existing = OutputFile::Existing::Replace);

    /// The files put in place, in order.
    const std::vector<std::string>& placed() const noexcept { return placed_; }

  private:
    OutputFile& start(const std::string& path, OutputFile::Existing existing, const char* what,
                      bool shared);
    void keepAside(const std::string& name, OutputFile::Existing existing, bool replaced);
    bool writes(const std::string& name) const;
    void placeShared();
    void rollBack() noexcept;

    struct Entry {
        std::unique_ptr<OutputFile> file;
        bool shared = false;
    };

    const std::atomic<int>* stop_;
    std::vector<Entry> files_;
    std::vector<std::string> madeFolders_;
    std::vector<std::pair<std::string, std::string>> kept_;  // (name, hidden name)
    std::vector<std::string> placed_;
    bool committed_ = false;
};

}  // namespace zk

#include "zk/engine/output/output_set.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/platform.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/output/paths.hpp"

namespace zk {

OutputSet::~OutputSet() {
    if (committed_) {
        return;
    }
    for (Entry& entry : files_) {
        entry.file->discard();
    }
    for (auto folder = madeFolders_.rbegin(); folder != madeFolders_.rend(); ++folder) {
        platform::removeFolder(*folder);
    }
}

int OutputSet::makeFolders(const std::string& folder, std::string& failed) {
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (const int err = platform::makeFolder(part); err == 0) {
            madeFolders_.push_back(part);
        } else if (err != EEXIST) {
            failed = part;
            return err;
        }
    }
    return 0;
}

void OutputSet::makeFolders(const std::string& folder) {
    std::string failed;
    if (const int err = makeFolders(folder, failed); err != 0) {
        throw systemError(ErrorCode::OpenFailed, "cannot make the folder", err, failed);
    }
}

OutputFile& OutputSet::start(const std::string& path, OutputFile::Existing existing,
                             const char* what, bool shared) {
    auto file = std::make_unique<OutputFile>(path, existing, stop_);
    if (auto* sink = dynamic_cast<FdSink*>(&file->sink()); sink != nullptr && what != nullptr) {
        sink->setWhat(what);
    }
    files_.push_back({.file = std::move(file), .shared = shared});
    return *files_.back().file;
}

OutputFile& OutputSet::add(const std::string& path, OutputFile::Existing existing,
                           const char* what) {
    return start(path, existing, what, false);
}

OutputFile& OutputSet::addShared(const std::string& path, const char* what) {
    return start(path, OutputFile::Existing::Refuse, what, true);
}

bool OutputSet::writes(const std::string& name) const {
    return std::ranges::any_of(
        files_, [&](const Entry& entry) { return !entry.shared && entry.file->path() == name; });
}

void OutputSet::commit(std::span<const std::string> earlier, OutputFile::Existing existing) {
    try {
        for (const std::string& name : earlier) {
            keepAside(name, existing, writes(name));
        }
        for (Entry& entry : files_) {
            if (!entry.shared) {
                entry.file->commit();
                placed_.push_back(entry.file->path());
            }
        }
        placeShared();
    } catch (...) {
        rollBack();
        throw;
    }
    for (const auto& [name, kept] : kept_) {
        platform::removeFile(kept);
    }
    committed_ = true;
}

// A shared file that another program put in place meanwhile is theirs, and stays.
void OutputSet::placeShared() {
    for (Entry& entry : files_) {
        if (!entry.shared) {
            continue;
        }
        try {
            entry.file->commit();
            placed_.push_back(entry.file->path());
        } catch (const Error& e) {
            if (e.code() != ErrorCode::OutputExists) {
                throw;
            }
        }
    }
}

// Takes the new files away and puts the earlier ones back.
void OutputSet::rollBack() noexcept {
    for (const std::string& path : placed_) {
        if (std::ranges::none_of(kept_, [&](const auto& k) { return k.first == path; })) {
            platform::removeFile(path);
        }
    }
    for (const auto& [name, kept] : kept_) {
        // Where the new file never took the name, both names are the earlier file, and the
        // rename leaves them both.
        if (platform::renameFile(kept, name) == 0) {
            platform::removeFile(kept);
        }
    }
    placed_.clear();
    kept_.clear();
}

// Keeps the earlier output's file `name`, if there is one, under a hidden name: a second name
// of a file that the new output replaces (it stays in place until then), the file itself moved
// aside when the new output has none.
void OutputSet::keepAside(const std::string& name, OutputFile::Existing existing, bool replaced) {
    const platform::InfoResult st = platform::infoOf(name, platform::Links::DontFollow);
    if (!st.info) {
        if (st.error == ENOENT) {
            return;
        }
        throw systemError(ErrorCode::OpenFailed, "cannot look at the run's file", st.error, name);
    }
    if (existing == OutputFile::Existing::Refuse) {
        throw Error(ErrorCode::OutputExists, "the output file exists already", name);
    }
    std::string real = name;
    if (replaced && st.info->kind == platform::FileKind::Link) {
        // The new file replaces the link's target, as OutputFile does.
        std::error_code ec;
        real = nameOf(std::filesystem::canonical(pathOf(name), ec));
        if (ec) {
            real = name;
        }
    }
    const std::filesystem::path at = pathOf(real);
    const std::string kept =
        nameOf(at.parent_path() / pathOf("." + nameOf(at.filename()) + "." +
                                         std::to_string(platform::processId()) + ".earlier"));
    platform::removeFile(kept);  // left by an export of this process id that was killed
    if (!(replaced && platform::linkFile(real, kept) == 0)) {
        if (const int err = platform::renameFile(real, kept); err != 0) {
            throw systemError(ErrorCode::WriteFailed, "cannot keep the earlier run's file aside",
                              err, name);
        }
    }
    kept_.emplace_back(real, kept);
}

}  // namespace zk

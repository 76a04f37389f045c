#include "zk/engine/output/output_file.hpp"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "platform/platform.hpp"
#include "zk/engine/error.hpp"
#include "zk/engine/output/paths.hpp"

namespace zk {

namespace fs = std::filesystem;

namespace {

std::string folderPathOf(const std::string& path) {
    const fs::path parent = pathOf(path).parent_path();
    return parent.empty() ? std::string(".") : nameOf(parent);
}

constexpr std::size_t kTempNameExtra = 23;  // ".", ".", 16 hexadecimal digits, ".part"

// A name beside `target` that no file has yet: ".<name>.<random>.part", with the name cut (at
// a character boundary) so that the whole fits the longest file name the system allows.
std::string temporaryNameBeside(const std::string& target) {
    const fs::path p = pathOf(target);
    std::string base = nameOf(p.filename());
    const std::size_t longest = platform::longestName();
    if (base.size() + kTempNameExtra > longest) {
        std::size_t cut = longest - kTempNameExtra;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        base.resize(cut);
    }
    std::string name = ".";
    name += base;
    name += '.';
    name += platform::randomSuffix();
    name += ".part";
    return nameOf(p.parent_path() / pathOf(name));
}

Error cannotCreate(int err, const std::string& folder, const std::string& path) {
    if (err == EACCES || err == EPERM) {
        return systemError(
            ErrorCode::OpenFailed,
            "cannot create the output file: the folder " + folder + " may not be written", err,
            path);
    }
    if (err == EROFS) {
        return systemError(ErrorCode::OpenFailed,
                           "cannot create the output file: the folder " + folder +
                               " is on a read-only file system",
                           err, path);
    }
    return systemError(ErrorCode::OpenFailed, "cannot create the output file", err, path);
}

}  // namespace

void removeTemporaryFiles() noexcept {
    platform::removeHiddenFiles();
}

OutputFile::OutputFile(const std::string& path, Existing existing, const std::atomic<int>* stop)
    : path_(path), target_(path), existing_(existing), sink_(SystemHandle(), path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(pathOf(path), ec))) {
        const fs::path resolved = fs::canonical(pathOf(path), ec);
        if (ec) {
            // Replacing the link itself would not be what a live link gives (a file written
            // through it); writing through it would create a file where nobody looks.
            throw Error(ErrorCode::OpenFailed,
                        "is a symbolic link to " + nameOf(fs::read_symlink(pathOf(path), ec)) +
                            ", which does not exist; not writing through it",
                        path_);
        }
        target_ = nameOf(resolved);
    }
    const std::string name = nameOf(pathOf(target_).filename());
    if (const auto nameMax = platform::longestNameIn(folderPathOf(target_));
        nameMax && name.size() > *nameMax) {
        throw Error(ErrorCode::OpenFailed,
                    "the file name is " + std::to_string(name.size()) +
                        " bytes long; the file system takes at most " + std::to_string(*nameMax),
                    path_);
    }

    std::uint32_t keepPermissions = 0;
    const platform::InfoResult existingFile = platform::infoOf(target_);
    if (const auto& st = existingFile.info) {
        if (st->kind == platform::FileKind::Folder) {
            throw systemError(ErrorCode::OpenFailed, "cannot create the output file", EISDIR,
                              path_);
        }
        const bool regular = st->kind == platform::FileKind::Regular;
        if (existing == Existing::Refuse) {
            throw Error(
                ErrorCode::OutputExists,
                regular ? "the output file exists already" : "exists already (a device or a pipe)",
                path_);
        }
        if (!regular) {
            // A device or a pipe: there is nothing to keep safe, so write straight to it.
            const platform::Opened direct = platform::openForWriting(target_, stop);
            if (direct.error == EINTR) {
                throw Error(ErrorCode::Cancelled, "stopped while waiting for a reader", path_);
            }
            if (direct.error != 0) {
                throw systemError(ErrorCode::OpenFailed, "cannot open the output", direct.error,
                                  path_);
            }
            file_ = direct.handle;
            sink_ = FdSink(file_, path_, stop);
            return;
        }
        keepPermissions = st->permissions;
    } else if (existingFile.error != ENOENT) {
        throw systemError(ErrorCode::OpenFailed, "cannot create the output file",
                          existingFile.error, path_);
    }

    // Preferably an unnamed file in the target's folder: if the program is killed, nothing is
    // left behind. File systems without that get a hidden temporary file instead.
    const std::string folder = folderPathOf(target_);
    const platform::UnnamedFile unnamed = platform::createUnnamedIn(folder);
    if (!unnamed.handle.valid() && !unnamed.unsupported) {
        throw cannotCreate(unnamed.error, folder, path_);
    }
    if (!unnamed.handle.valid()) {
        platform::Opened named;
        for (int attempt = 0; !named.handle.valid() && attempt < 16; ++attempt) {
            tempPath_ = temporaryNameBeside(target_);
            named = platform::createNew(tempPath_);
            if (named.error != 0 && named.error != EEXIST) {
                break;
            }
        }
        if (!named.handle.valid()) {
            tempPath_.clear();
            throw cannotCreate(named.error, folder, path_);
        }
        file_ = named.handle;
        tempSlot_ = platform::rememberHiddenFile(tempPath_);
    } else {
        file_ = unnamed.handle;
        unnamed_ = true;
    }
    if (keepPermissions != 0) {
        platform::setPermissions(file_, keepPermissions);
    }
    sink_ = FdSink(file_, path_, stop);
}

std::string OutputFile::reopenPath() const {
    if (auto byHandle = platform::pathOfOpenFile(file_)) {
        return *byHandle;
    }
    if (unnamed_ && tempPath_.empty()) {
        return {};  // a file without a name, and no way to reach it by one: the library fails
    }
    return tempPath_.empty() ? target_ : tempPath_;
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::commit() {
    if (done_) {
        return;
    }
    done_ = true;
    const bool direct = !unnamed_ && tempPath_.empty();
    if (direct) {
        if (const int err = platform::closeFile(std::exchange(file_, SystemHandle())); err != 0) {
            throw systemError(ErrorCode::WriteFailed, "cannot finish writing the output", err,
                              path_);
        }
        return;
    }

    // The data reaches the disk before the file takes its name, so a power cut can't leave an
    // empty file where the earlier one was.
    if (const int err = platform::syncFile(file_); err != 0) {
        discardAfterFailure();
        throw systemError(ErrorCode::WriteFailed, "cannot write the output to the disk", err,
                          path_);
    }
    const bool replace = existing_ == Existing::Replace;
    if (unnamed_) {
        // Give the unnamed file a name: the target itself when nothing may be replaced (the link
        // fails if a file has appeared there meanwhile), else a temporary one that is then
        // renamed onto the target.
        std::string linkName = replace ? temporaryNameBeside(target_) : target_;
        const int linkErr = platform::nameUnnamed(file_, linkName);
        platform::closeFile(std::exchange(file_, SystemHandle()));
        if (linkErr != 0) {
            if (linkErr == EEXIST && !replace) {
                throw Error(ErrorCode::OutputExists, "the output file exists already", path_);
            }
            throw systemError(ErrorCode::WriteFailed, "cannot save the output file", linkErr,
                              path_);
        }
        if (!replace) {
            platform::syncFolder(folderPathOf(target_));
            return;
        }
        tempPath_ = std::move(linkName);
        tempSlot_ = platform::rememberHiddenFile(tempPath_);
    } else if (const int err = platform::closeFile(std::exchange(file_, SystemHandle()));
               err != 0) {
        platform::removeFile(tempPath_);
        platform::forgetHiddenFile(tempSlot_);
        throw systemError(ErrorCode::WriteFailed, "cannot finish writing the output", err, path_);
    }

    const int err = replace ? platform::renameFile(tempPath_, target_)
                            : platform::renameNoReplace(tempPath_, target_);
    if (err != 0) {
        platform::removeFile(tempPath_);
        platform::forgetHiddenFile(tempSlot_);
        if (err == EEXIST) {
            throw Error(ErrorCode::OutputExists, "the output file exists already", path_);
        }
        throw systemError(ErrorCode::WriteFailed, "cannot save the output file", err, path_);
    }
    platform::forgetHiddenFile(tempSlot_);
    tempPath_.clear();
    platform::syncFolder(folderPathOf(target_));
}

void OutputFile::discardAfterFailure() noexcept {
    done_ = false;
    discard();
    done_ = true;
}

void OutputFile::discard() noexcept {
    if (done_) {
        return;
    }
    done_ = true;
    if (file_.valid()) {
        platform::closeFile(std::exchange(file_, SystemHandle()));
    }
    if (!tempPath_.empty()) {
        platform::removeFile(tempPath_);
        platform::forgetHiddenFile(tempSlot_);
        tempPath_.clear();
    }
}

}  // namespace zk

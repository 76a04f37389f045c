#include "zk/engine/output/output_file.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "zk/engine/error.hpp"

namespace zk {

namespace fs = std::filesystem;

namespace {

std::string folderPathOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// The named temporary files being written, for removeTemporaryFiles() in a signal handler.
struct TempSlot {
    std::atomic<bool> used{false};
    char path[PATH_MAX] = {};
};
std::array<TempSlot, 8> gTempSlots;

int registerTemp(const std::string& path) noexcept {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (std::size_t i = 0; i < gTempSlots.size(); ++i) {
        TempSlot& slot = gTempSlots[i];
        if (!slot.used.load()) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.used.store(true);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void unregisterTemp(int& slot) noexcept {
    if (slot >= 0) {
        gTempSlots[static_cast<std::size_t>(slot)].used.store(false);
        slot = -1;
    }
}

constexpr std::size_t kTempNameExtra = 23;  // ".", ".", 16 hexadecimal digits, ".part"

// A name beside `target` that no file has yet: ".<name>.<random>.part", with the name cut (at
// a character boundary) so that the whole fits the longest file name the system allows.
std::string temporaryNameBeside(const std::string& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const fs::path p(target);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string base = p.filename().string();
    if (base.size() + kTempNameExtra > NAME_MAX) {
        std::size_t cut = NAME_MAX - kTempNameExtra;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        base.resize(cut);
    }
    std::string name = ".";
    name += base;
    name += '.';
    name += suffix;
    name += ".part";
    return (p.parent_path() / name).string();
}

// Renames `from` onto `to` unless `to` exists; false with errno EEXIST when it does.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the flag: check, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// Makes what was written to `fd` durable; then the folder's entry for it, once renamed.
bool syncFolder(const std::string& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return false;
    }
    const bool ok = ::fsync(dir) == 0 || errno == EINVAL;  // some file systems can't sync folders
    ::close(dir);
    return ok;
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
    for (TempSlot& slot : gTempSlots) {
        if (slot.used.load()) {
            ::unlink(slot.path);
        }
    }
}

OutputFile::OutputFile(const std::string& path, Existing existing, const std::atomic<int>* stop)
    : path_(path), target_(path), existing_(existing), sink_(-1, path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path resolved = fs::canonical(path, ec);
        if (ec) {
            // Replacing the link itself would not be what a live link gives (a file written
            // through it); writing through it would create a file where nobody looks.
            throw Error(ErrorCode::OpenFailed,
                        "is a symbolic link to " + fs::read_symlink(path, ec).string() +
                            ", which does not exist; not writing through it",
                        path_);
        }
        target_ = resolved.string();
    }
    const std::string name = fs::path(target_).filename().string();
    const long nameMax = ::pathconf(folderPathOf(target_).c_str(), _PC_NAME_MAX);
    if (nameMax > 0 && name.size() > static_cast<std::size_t>(nameMax)) {
        throw Error(ErrorCode::OpenFailed,
                    "the file name is " + std::to_string(name.size()) +
                        " bytes long; the file system takes at most " + std::to_string(nameMax),
                    path_);
    }

    mode_t keepMode = 0;
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            throw systemError(ErrorCode::OpenFailed, "cannot create the output file", EISDIR,
                              path_);
        }
        if (existing == Existing::Refuse) {
            throw Error(ErrorCode::OutputExists,
                        S_ISREG(st.st_mode) ? "the output file exists already"
                                            : "exists already (a device or a pipe)",
                        path_);
        }
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: there is nothing to keep safe, so write straight to it. A
            // pipe with no reader holds the open up until a reader comes or a signal stops it.
            do {
                fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
            } while (fd_ < 0 && errno == EINTR && (stop == nullptr || stop->load() == 0));
            if (fd_ < 0 && errno == EINTR) {
                throw Error(ErrorCode::Cancelled, "stopped while waiting for a reader", path_);
            }
            if (fd_ < 0) {
                throw systemError(ErrorCode::OpenFailed, "cannot open the output", errno, path_);
            }
            sink_ = FdSink(fd_, path_, stop);
            return;
        }
        keepMode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        throw systemError(ErrorCode::OpenFailed, "cannot create the output file", errno, path_);
    }

    // Preferably an unnamed file in the target's folder: if the program is killed, nothing is
    // left behind. File systems without that get a hidden temporary file instead.
    const std::string folder = folderPathOf(target_);
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        throw cannotCreate(errno, folder, path_);
    }
    if (fd_ < 0) {
        for (int attempt = 0; fd_ < 0 && attempt < 16; ++attempt) {
            tempPath_ = temporaryNameBeside(target_);
            fd_ = ::open(tempPath_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
        }
        if (fd_ < 0) {
            const int err = errno;
            tempPath_.clear();
            throw cannotCreate(err, folder, path_);
        }
        tempSlot_ = registerTemp(tempPath_);
    } else {
        unnamed_ = true;
    }
    if (keepMode != 0) {
        ::fchmod(fd_, keepMode);
    }
    sink_ = FdSink(fd_, path_, stop);
}

std::string OutputFile::reopenPath() const {
    std::string byDescriptor = "/proc/self/fd/" + std::to_string(fd_);
    if (::access(byDescriptor.c_str(), F_OK) == 0 || (unnamed_ && tempPath_.empty())) {
        return byDescriptor;
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
        const int rc = ::close(std::exchange(fd_, -1));
        if (rc != 0) {
            throw systemError(ErrorCode::WriteFailed, "cannot finish writing the output", errno,
                              path_);
        }
        return;
    }

    // The data reaches the disk before the file takes its name, so a power cut can't leave an
    // empty file where the earlier one was.
    if (::fsync(fd_) != 0 && errno != EINVAL) {
        const int err = errno;
        discardAfterFailure();
        throw systemError(ErrorCode::WriteFailed, "cannot write the output to the disk", err,
                          path_);
    }
    const bool replace = existing_ == Existing::Replace;
    if (unnamed_) {
        // Give the unnamed file a name: the target itself when nothing may be replaced (the link
        // fails if a file has appeared there meanwhile), else a temporary one that is then
        // renamed onto the target.
        const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
        std::string linkName = replace ? temporaryNameBeside(target_) : target_;
        int rc =
            ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, linkName.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno == ENOENT) {
            // No /proc: linking by descriptor works for a privileged process.
            rc = ::linkat(fd_, "", AT_FDCWD, linkName.c_str(), AT_EMPTY_PATH);
        }
        const int linkErr = errno;
        ::close(std::exchange(fd_, -1));
        if (rc != 0) {
            if (linkErr == EEXIST && !replace) {
                throw Error(ErrorCode::OutputExists, "the output file exists already", path_);
            }
            throw systemError(ErrorCode::WriteFailed, "cannot save the output file", linkErr,
                              path_);
        }
        if (!replace) {
            syncFolder(folderPathOf(target_));
            return;
        }
        tempPath_ = std::move(linkName);
        tempSlot_ = registerTemp(tempPath_);
    } else if (::close(std::exchange(fd_, -1)) != 0) {
        const int err = errno;
        ::unlink(tempPath_.c_str());
        unregisterTemp(tempSlot_);
        throw systemError(ErrorCode::WriteFailed, "cannot finish writing the output", err, path_);
    }

    const bool renamed = replace ? ::rename(tempPath_.c_str(), target_.c_str()) == 0
                                 : renameNoReplace(tempPath_, target_);
    const int err = errno;
    if (!renamed) {
        ::unlink(tempPath_.c_str());
        unregisterTemp(tempSlot_);
        if (err == EEXIST) {
            throw Error(ErrorCode::OutputExists, "the output file exists already", path_);
        }
        throw systemError(ErrorCode::WriteFailed, "cannot save the output file", err, path_);
    }
    unregisterTemp(tempSlot_);
    tempPath_.clear();
    syncFolder(folderPathOf(target_));
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
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        unregisterTemp(tempSlot_);
        tempPath_.clear();
    }
}

}  // namespace zk

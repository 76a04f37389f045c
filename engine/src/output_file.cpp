#include "zk/engine/output_file.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// A name beside `target` that no file has yet: ".<name>.<random>.part".
std::string temporaryNameBeside(const std::string& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const fs::path p(target);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::string name = ".";
    name += p.filename().string();
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

}  // namespace

OutputFile::OutputFile(const std::string& path, Existing existing)
    : path_(path), target_(path), existing_(existing), sink_(-1, path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path resolved = fs::canonical(path, ec);
        if (!ec) {
            target_ = resolved.string();
        }
    }

    mode_t keepMode = 0;
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            throw systemError(ErrorCode::OpenFailed, "cannot create the output file", EISDIR,
                              path_);
        }
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: there is nothing to keep safe, so write straight to it.
            fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd_ < 0) {
                throw systemError(ErrorCode::OpenFailed, "cannot open the output", errno, path_);
            }
            sink_ = FdSink(fd_, path_);
            return;
        }
        if (existing == Existing::Refuse) {
            throw Error(ErrorCode::OutputExists, "the output file exists already", path_);
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
        throw systemError(ErrorCode::OpenFailed, "cannot create the output file", errno, path_);
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
            throw systemError(ErrorCode::OpenFailed, "cannot create the output file", err, path_);
        }
    } else {
        unnamed_ = true;
    }
    if (keepMode != 0) {
        ::fchmod(fd_, keepMode);
    }
    sink_ = FdSink(fd_, path_);
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
            return;
        }
        tempPath_ = std::move(linkName);
    } else if (::close(std::exchange(fd_, -1)) != 0) {
        const int err = errno;
        ::unlink(tempPath_.c_str());
        throw systemError(ErrorCode::WriteFailed, "cannot finish writing the output", err, path_);
    }

    const bool renamed = replace ? ::rename(tempPath_.c_str(), target_.c_str()) == 0
                                 : renameNoReplace(tempPath_, target_);
    const int err = errno;
    if (!renamed) {
        ::unlink(tempPath_.c_str());
        if (err == EEXIST) {
            throw Error(ErrorCode::OutputExists, "the output file exists already", path_);
        }
        throw systemError(ErrorCode::WriteFailed, "cannot save the output file", err, path_);
    }
    tempPath_.clear();
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
        tempPath_.clear();
    }
}

}  // namespace zk

#include "zk/engine/recording/byte_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "output/io_retry.hpp"
#include "zk/engine/error.hpp"

namespace zk {

MemorySource::MemorySource(std::span<const unsigned char> bytes, std::string name)
    : bytes_(bytes), name_(std::move(name)) {}

std::size_t MemorySource::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t n = std::min<std::uint64_t>(count, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return n;
}

FileSource::FileSource(std::string path) : path_(std::move(path)) {
    if (path_.empty()) {
        throw Error(ErrorCode::OpenFailed, "the recording's name is empty", "\"\"");
    }
    // Without O_NONBLOCK, opening a FIFO waits for a writer, perhaps for ever; a recording is
    // never one, so it is refused below without waiting.
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        throw systemError(ErrorCode::OpenFailed, "cannot open the recording", errno, path_);
    }
    struct stat st {};
    const bool statted = ::fstat(fd_, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (statted && S_ISDIR(st.st_mode)) {
            throw systemError(ErrorCode::OpenFailed, "cannot open the recording", EISDIR, path_);
        }
        if (statted) {
            // The export reads a recording at any position, and asks its length as it grows.
            throw Error(ErrorCode::OpenFailed,
                        "is not a file but a pipe, a terminal or a device; a recording is read "
                        "from a file",
                        path_);
        }
        throw systemError(ErrorCode::OpenFailed, "cannot open the recording", err, path_);
    }
    // Reads of a file never wait anyway; the flag is cleared so that none ever returns EAGAIN.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    // The export reads the file once from start to end.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::FileSource(FileSource&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

FileSource::~FileSource() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::uint64_t FileSource::size() {
    struct stat st {};
    if (detail::retryIo([&] { return ::fstat(fd_, &st); }) != 0) {
        throw systemError(ErrorCode::ReadFailed, "cannot read the recording's length", errno,
                          path_);
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t FileSource::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = detail::retryIo([&] {
            return ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        });
        if (n < 0) {
            throw systemError(ErrorCode::ReadFailed, "cannot read the recording", errno, path_,
                              offset + done);
        }
        if (n == 0) {
            break;  // end of file
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace zk

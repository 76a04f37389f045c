#include "zk/engine/recording/byte_source.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/platform.hpp"
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
    // Opened without waiting: a FIFO would wait for a writer, perhaps for ever; a recording is
    // never one, so it is refused below without waiting.
    const platform::Opened opened = platform::openForReading(path_);
    if (opened.error != 0) {
        throw systemError(ErrorCode::OpenFailed, "cannot open the recording", opened.error, path_);
    }
    file_ = opened.handle;
    const platform::InfoResult info = platform::infoOf(file_);
    if (!info.info || info.info->kind != platform::FileKind::Regular) {
        platform::closeFile(std::exchange(file_, SystemHandle()));
        if (info.info && info.info->kind == platform::FileKind::Folder) {
            throw systemError(ErrorCode::OpenFailed, "cannot open the recording", EISDIR, path_);
        }
        if (info.info) {
            // The export reads a recording at any position, and asks its length as it grows.
            throw Error(ErrorCode::OpenFailed,
                        "is not a file but a pipe, a terminal or a device; a recording is read "
                        "from a file",
                        path_);
        }
        throw systemError(ErrorCode::OpenFailed, "cannot open the recording", info.error, path_);
    }
    platform::prepareSequentialReading(file_);
}

FileSource::FileSource(FileSource&& other) noexcept
    : file_(std::exchange(other.file_, SystemHandle())), path_(std::move(other.path_)) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (file_.valid()) {
            platform::closeFile(file_);
        }
        file_ = std::exchange(other.file_, SystemHandle());
        path_ = std::move(other.path_);
    }
    return *this;
}

FileSource::~FileSource() {
    if (file_.valid()) {
        platform::closeFile(file_);
    }
}

std::uint64_t FileSource::size() {
    const platform::InfoResult info = platform::infoOf(file_);
    if (!info.info) {
        throw systemError(ErrorCode::ReadFailed, "cannot read the recording's length", info.error,
                          path_);
    }
    return info.info->size;
}

std::optional<std::time_t> FileSource::modified() const {
    const platform::InfoResult info = platform::infoOf(file_);
    return info.info ? std::optional(info.info->modified) : std::nullopt;
}

std::optional<FileId> FileSource::id() const {
    const platform::InfoResult info = platform::infoOf(file_);
    return info.info ? std::optional(info.info->id) : std::nullopt;
}

std::size_t FileSource::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const platform::IoResult r =
            platform::readAt(file_, offset + done, out + done, count - done);
        if (r.error != 0) {
            throw systemError(ErrorCode::ReadFailed, "cannot read the recording", r.error, path_,
                              offset + done);
        }
        if (r.bytes == 0) {
            break;  // end of file
        }
        done += r.bytes;
    }
    return done;
}

}  // namespace zk

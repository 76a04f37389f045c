#include "zk/engine/output/byte_sink.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "output/io_retry.hpp"
#include "zk/engine/error.hpp"

namespace zk {

namespace {

constexpr int kPollMs = 100;

}  // namespace

std::size_t FdSink::waitForRoom(std::size_t count) {
    if (kind_ < 0) {
        struct stat st {};
        kind_ = ::fstat(fd_, &st) != 0 ? 2 : S_ISREG(st.st_mode) ? 0 : S_ISFIFO(st.st_mode) ? 1 : 2;
    }
    if (kind_ == 0) {
        return count;
    }
    for (;;) {
        if (stopped()) {
            throw Error(ErrorCode::Cancelled, "stopped while the output took no data", name_);
        }
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        if (kind_ != 1 || (p.revents & POLLOUT) == 0) {
            return count;  // the write reports an error or a reader that has gone
        }
        int queued = 0;
        const int size = ::fcntl(fd_, F_GETPIPE_SZ);
        if (size <= 0 || ::ioctl(fd_, FIONREAD, &queued) != 0) {
            return count;
        }
        if (size > queued) {
            return std::min<std::size_t>(count, static_cast<std::size_t>(size - queued));
        }
    }
}

void FdSink::write(const char* data, std::size_t count) {
    while (count > 0) {
        const std::size_t piece = stop_ != nullptr ? waitForRoom(count) : count;
        const ssize_t n = detail::retryIo([&]() -> ssize_t {
            const ssize_t w = ::write(fd_, data, piece);
            if (w < 0 && errno == EINTR && stopped()) {
                errno = ECANCELED;
            } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A non-blocking pipe that is full: wait until the reader has caught up.
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, kPollMs);
                errno = stopped() ? ECANCELED : EINTR;
            }
            return w;
        });
        if (n < 0) {
            if (errno == ECANCELED || stopped()) {
                throw Error(ErrorCode::Cancelled, "stopped while the output took no data", name_);
            }
            throw systemError(ErrorCode::WriteFailed, "cannot write " + what_, errno, name_);
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
}

}  // namespace zk

#include "zk/engine/byte_sink.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "io_retry.hpp"
#include "zk/engine/error.hpp"

namespace zk {

void FdSink::write(const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = detail::retryIo([&]() -> ssize_t {
            const ssize_t w = ::write(fd_, data, count);
            if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A non-blocking pipe that is full: wait until the reader has caught up.
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, -1);
                errno = EINTR;
            }
            return w;
        });
        if (n < 0) {
            throw systemError(ErrorCode::WriteFailed, "cannot write the CSV file", errno, name_);
        }
        data += n;
        count -= static_cast<std::size_t>(n);
    }
}

}  // namespace zk

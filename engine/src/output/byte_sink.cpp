#include "zk/engine/output/byte_sink.hpp"

#include <cerrno>

#include "platform/platform.hpp"
#include "zk/engine/error.hpp"

namespace zk {

void FdSink::write(const char* data, std::size_t count) {
    while (count > 0) {
        const platform::IoResult r = platform::writeSome(handle_, data, count, stop_, kind_);
        if (r.error != 0) {
            if (r.error == ECANCELED || stopped()) {
                throw Error(ErrorCode::Cancelled, "stopped while the output took no data", name_);
            }
            throw systemError(ErrorCode::WriteFailed, "cannot write " + what_, r.error, name_);
        }
        data += r.bytes;
        count -= r.bytes;
    }
}

}  // namespace zk

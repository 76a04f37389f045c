#include "zk/engine/error.hpp"

#include <cstring>

namespace zk {

Error::Error(ErrorCode code, std::string message, std::string path, std::uint64_t offset)
    : std::runtime_error(std::move(message)),
      code_(code),
      path_(std::move(path)),
      offset_(offset) {}

std::string Error::describe() const {
    if (path_.empty()) {
        return what();
    }
    return path_ + ": " + what();
}

Error systemError(ErrorCode code, const std::string& what, int err, const std::string& path,
                  std::uint64_t offset) {
    return Error(code, what + ": " + std::strerror(err), path, offset);
}

}  // namespace zk

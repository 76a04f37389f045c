#include "zk/engine/error.hpp"

#include <new>

#include "zk/engine/platform.hpp"

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

Error currentFailure(const std::string& path, std::string_view task) {
    try {
        throw;
    } catch (const Error& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return Error(ErrorCode::OutOfMemory, "not enough memory for " + std::string(task), path);
    } catch (const std::exception& e) {
        return Error(ErrorCode::Unexpected, e.what(), path);
    } catch (...) {
        return Error(ErrorCode::Unexpected, "an unknown failure in " + std::string(task), path);
    }
}

Error systemError(ErrorCode code, const std::string& what, int err, const std::string& path,
                  std::uint64_t offset) {
    return Error(code, what + ": " + platform::errorText(err), path, offset);
}

}  // namespace zk

#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace zk::test {

/// A device on which every write fails with "No space left on device": /dev/full, or, where a
/// container lacks it and the tests run as root, the same device made in the temporary folder.
/// Nothing when neither can be had.
inline std::optional<std::string> fullDevice() {
    struct stat st {};
    if (::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode)) {
        return std::string("/dev/full");
    }
    const std::string made = "/tmp/zk_test_full_device";
    if (::stat(made.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        return made;
    }
    if (::mknod(made.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
        return made;
    }
    return std::nullopt;
}

}  // namespace zk::test

#include "zk/engine/paths.hpp"

namespace zk {

std::string_view fileNameOf(std::string_view path) noexcept {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string folderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::optional<std::string> baseNameOf(std::string_view name) {
    // A UTF-8 continuation byte (10xxxxxx) belongs to the character before it.
    std::size_t end = name.size();
    for (int dropped = 0; dropped < 4; ++dropped) {
        if (end == 0) {
            return std::nullopt;
        }
        do {
            --end;
        } while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80);
    }
    return std::string(name.substr(0, end));
}

std::optional<std::string> defaultOutputPath(std::string_view recordingPath,
                                             std::string_view extension,
                                             std::optional<std::string_view> folder) {
    auto base = baseNameOf(fileNameOf(recordingPath));
    if (!base) {
        return std::nullopt;
    }
    std::string path;
    if (folder) {
        path = *folder;
        if (!path.empty() && path.back() != '/') {
            path += '/';
        }
    } else {
        path = folderOf(recordingPath);
    }
    return path + *base + std::string(extension);
}

}  // namespace zk

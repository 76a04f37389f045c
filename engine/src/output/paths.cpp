#include "zk/engine/output/paths.hpp"

namespace zk {

std::string_view fileNameOf(std::string_view path) noexcept {
    return path.substr(platform::nameStart(path));
}

std::string folderOf(std::string_view path) {
    return std::string(path.substr(0, platform::nameStart(path)));
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
        // A folder that ends in a separator (or, on Windows, in a drive's colon) takes none;
        // another takes the separator it already uses ("C:/data/out" gives "C:/data/out/").
        if (const std::size_t last = platform::nameStart(path);
            !path.empty() && last != path.size()) {
            path += last > 0 && (path[last - 1] == '/' || path[last - 1] == '\\')
                        ? path[last - 1]
                        : platform::preferredSeparator();
        }
    } else {
        path = folderOf(recordingPath);
    }
    return path + *base + std::string(extension);
}

std::optional<SystemHandle> streamDescriptorOf(std::string_view path) noexcept {
    return platform::standardStreamNamed(path);
}

bool isUtf8(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= static_cast<std::size_t>(extra)) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
        if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return false;
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

}  // namespace zk

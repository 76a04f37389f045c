#include "zk/cli/options.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/platform.hpp"

namespace zk::cli {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != b[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> parseColumns(std::string_view list, ExportOptions& options) {
    if (trim(list).empty()) {
        return "the column list is empty (use \"none\" for no column)";
    }
    std::array<bool, kColumns.size()> chosen{};
    bool none = false;
    bool anyColumn = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string_view name =
            trim(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
        if (name.empty()) {
            return "the column list \"" + std::string(list) + "\" has an empty name";
        }
        if (equalsIgnoringCase(name, "none")) {
            none = true;
        } else {
            bool known = false;
            for (std::size_t i = 0; i < kColumns.size(); ++i) {
                if (equalsIgnoringCase(name, kColumns[i].key)) {
                    chosen[i] = known = anyColumn = true;
                }
            }
            if (!known) {
                std::string names;
                for (const Column& column : kColumns) {
                    names.append(column.key).append(", ");
                }
                return "unknown column \"" + std::string(name) + "\" (known: " + names + "none)";
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (none && anyColumn) {
        return "\"none\" cannot be combined with column names";
    }
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        options.*kColumns[i].flag = chosen[i];
    }
    return std::nullopt;
}

std::optional<int> parsePeriod(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !isChoosablePeriod(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> danglingLink(const std::string& path) {
    const auto link = platform::infoOf(path, platform::Links::DontFollow).info;
    if (!link || link->kind != platform::FileKind::Link || platform::infoOf(path).error != ENOENT) {
        return std::nullopt;
    }
    std::error_code ec;
    std::string target = nameOf(std::filesystem::read_symlink(pathOf(path), ec));
    if (ec) {
        return std::nullopt;
    }
    return target;
}

}  // namespace zk::cli

#include "zk/settings/export_choices.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "zk/engine/output/paths.hpp"
#include "zk/engine/platform.hpp"
#include "zk/settings/config_file.hpp"
#include "zk/settings/config_location.hpp"

namespace zk {
namespace {

#ifdef _WIN32
constexpr const char* kNoUserFolder = "no folder for the user's settings (APPDATA is not set)";
#else
constexpr const char* kNoUserFolder = "no folder for the user's settings (HOME is not set)";
#endif

// The file is a handful of short lines; a huge file (or a device) is never read whole.
constexpr std::streamsize kMaxBytesRead = 64 * 1024;

std::string storable(const std::string& value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos ? value
                                                                                   : std::string();
}

void readFlag(std::string_view value, bool& flag) {
    if (value == "true") {
        flag = true;
    } else if (value == "false") {
        flag = false;
    }
}

}  // namespace

std::string exportChoicesText(const ExportChoices& c) {
    std::string out;
    out += "seconds=" + std::string(c.IncludeSeconds ? "true" : "false") + "\n";
    out += "conductance=" + std::string(c.IncludeConductance ? "true" : "false") + "\n";
    out += "subject=" + storable(c.subject) + "\n";
    out += "session=" + storable(c.session) + "\n";
    out += "task=" + storable(c.task) + "\n";
    out += "start=" + storable(c.start) + "\n";
    return out;
}

ExportChoices parseExportChoices(std::string_view text) {
    ExportChoices c;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::size_t eq = line.find('=');
        if (line.starts_with('#') || eq == std::string_view::npos ||
            line.find('\0') != std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        if (key == "seconds") {
            readFlag(value, c.IncludeSeconds);
        } else if (key == "conductance") {
            readFlag(value, c.IncludeConductance);
        } else if (key == "subject") {
            c.subject = value;
        } else if (key == "session") {
            c.session = value;
        } else if (key == "task") {
            c.task = value;
        } else if (key == "start") {
            c.start = value;
        }
    }
    return c;
}

std::filesystem::path exportChoicesPath(const std::string& xdgConfigHome, const std::string& home) {
    const std::filesystem::path folder = userConfigFolder(xdgConfigHome, home);
    return folder.empty() ? folder : folder / kExportChoicesFileName;
}

std::filesystem::path exportChoicesPath() {
    const std::filesystem::path folder = pathOf(platform::userSettingsFolder());
    return folder.empty() ? folder : folder / kExportChoicesFileName;
}

ExportChoices loadExportChoices(const std::filesystem::path& file) {
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec)) {
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    std::string text(static_cast<std::size_t>(kMaxBytesRead), '\0');
    in.read(text.data(), kMaxBytesRead);
    if (in.bad()) {
        return {};
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parseExportChoices(text);
}

std::optional<Error> saveExportChoices(const ExportChoices& choices,
                                       const std::filesystem::path& file) try {
    namespace fs = std::filesystem;
    const auto failed = [&file](const std::string& reason, int err) {
        return std::optional(systemError(ErrorCode::WriteFailed, reason, err, file.string()));
    };
    if (file.empty()) {
        return failed(kNoUserFolder, ENOENT);
    }
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        return failed("is a folder", EISDIR);
    }
    return replaceFileSafely(file, exportChoicesText(choices));
} catch (...) {
    return currentFailure(file.string(), "saving the export options");
}

}  // namespace zk

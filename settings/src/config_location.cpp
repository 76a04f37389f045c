#include "zk/settings/config_location.hpp"

#include <cstdlib>
#include <system_error>

#include "zk/engine/platform.hpp"
#include "zk/settings/config_file.hpp"

namespace zk {

bool canWriteConfig(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        return false;
    }
    // Save_Config writes a temporary file beside the configuration and renames it, so what
    // counts is whether a file can be created in that directory. Trying it is the one test
    // that also sees read-only mounts and the rights of the user running the program.
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    return platform::canCreateFileIn(dir.string(), std::string(".") + kConfigFileName + ".probe");
}

std::filesystem::path configFilePath(const std::filesystem::path& programDir,
                                     const std::string& xdgConfigHome, const std::string& home) {
    namespace fs = std::filesystem;
    const fs::path beside = programDir / kConfigFileName;
    if (canWriteConfig(beside)) {
        return beside;
    }
    const fs::path folder = userConfigFolder(xdgConfigHome, home);
    return folder.empty() ? beside : folder / kConfigFileName;
}

std::filesystem::path userConfigFolder(const std::string& xdgConfigHome, const std::string& home) {
    namespace fs = std::filesystem;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (!xdgConfigHome.empty() && fs::path(xdgConfigHome).is_absolute()) {
        return fs::path(xdgConfigHome) / "zkFileExport";
    }
    if (!home.empty()) {
        return fs::path(home) / ".config" / "zkFileExport";
    }
    return {};
}

std::filesystem::path configFilePath(const std::filesystem::path& programDir) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return configFilePath(programDir, xdg ? xdg : "", home ? home : "");
}

}  // namespace zk

#include "zk/settings/config_location.hpp"

#include <system_error>

#include "zk/engine/output/paths.hpp"
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

namespace {

// programDir/zkFileExport.cfg when it can be written, else the file in `userFolder` (when known).
std::filesystem::path configFileIn(const std::filesystem::path& programDir,
                                   const std::filesystem::path& userFolder) {
    const std::filesystem::path beside = programDir / kConfigFileName;
    if (canWriteConfig(beside)) {
        return beside;
    }
    return userFolder.empty() ? beside : userFolder / kConfigFileName;
}

}  // namespace

std::filesystem::path configFilePath(const std::filesystem::path& programDir,
                                     const std::string& xdgConfigHome, const std::string& home) {
    return configFileIn(programDir, userConfigFolder(xdgConfigHome, home));
}

std::filesystem::path userConfigFolder(const std::string& xdgConfigHome, const std::string& home) {
    return pathOf(platform::xdgSettingsFolder(xdgConfigHome, home));
}

std::filesystem::path configFilePath(const std::filesystem::path& programDir) {
    return configFileIn(programDir, pathOf(platform::userSettingsFolder()));
}

}  // namespace zk

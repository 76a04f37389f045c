#include "zk/settings/config_location.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

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
    // A file without a name where the system has them, else a new one of a name nobody can
    // guess: never one that exists, never through a link.
    int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    const auto probe = createExclusively(dir, std::string(".") + kConfigFileName + ".probe", fd);
    if (!probe) {
        return false;
    }
    ::close(fd);
    fs::remove(*probe, ec);
    return true;
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

#pragma once

#include <filesystem>
#include <string>

namespace zk {

/// True when a configuration file `file` could be written: it exists and opens for writing,
/// or it doesn't exist and a file can be created in its directory. Leaves no trace.
bool canWriteConfig(const std::filesystem::path& file);

/// Where the configuration file lives for a program installed in `programDir`:
/// `programDir`/zkFileExport.cfg when that can be written (a build or an unpacked folder);
/// otherwise the per-user folder, `xdgConfigHome`/zkFileExport/zkFileExport.cfg, where an empty
/// or relative `xdgConfigHome` means `home`/.config. When neither `xdgConfigHome` nor `home` is
/// usable, the program directory is kept (and saving there will fail).
std::filesystem::path configFilePath(const std::filesystem::path& programDir,
                                     const std::string& xdgConfigHome, const std::string& home);

/// The program's per-user settings folder: `xdgConfigHome`/zkFileExport, where an empty or
/// relative `xdgConfigHome` means `home`/.config; empty when neither is usable.
std::filesystem::path userConfigFolder(const std::string& xdgConfigHome, const std::string& home);

/// configFilePath() with the user's settings folder of this system (platform::userSettingsFolder():
/// by the rule above on Linux, %APPDATA%\zkFileExport on Windows).
std::filesystem::path configFilePath(const std::filesystem::path& programDir);

}  // namespace zk

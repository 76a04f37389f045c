#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/error.hpp"

namespace zk {

/// The export choices that the window remembers beside the nine settings, in a file of their
/// own (kExportChoicesFileName) so that zkFileExport.cfg keeps its fixed layout.
struct ExportChoices {
    bool IncludeSeconds = false;      ///< the "Time(sec)" column
    bool IncludeConductance = false;  ///< the "Conductance(uS)" column
    /// The BIDS labels (letters and digits; the session may be empty).
    std::string subject = "01";
    std::string session{};
    std::string task = "rest";
    /// The recording's start as "YYYY-MM-DD HH:MM:SS"; empty: estimated from the file.
    std::string start{};

    friend bool operator==(const ExportChoices&, const ExportChoices&) = default;
};

/// The file's name, in the per-user folder zkFileExport.
inline constexpr const char* kExportChoicesFileName = "export-options.conf";

/// The file's text: one "key=value" line each, ending in LF (seconds, conductance as
/// true/false; subject, session, task, start as typed). A value holding a line end or a NUL is
/// written empty.
std::string exportChoicesText(const ExportChoices& choices);

/// Reads such a text: unknown keys, lines without "=" and lines starting with "#" are passed
/// over; a key given twice takes its last value; a flag that is neither "true" nor "false"
/// keeps its default. Keys missing keep their defaults.
ExportChoices parseExportChoices(std::string_view text);

/// `xdgConfigHome`/zkFileExport/export-options.conf, where an empty or relative `xdgConfigHome`
/// means `home`/.config; empty when neither is usable.
std::filesystem::path exportChoicesPath(const std::string& xdgConfigHome, const std::string& home);
/// The file in the user's settings folder (platform::userSettingsFolder(): by the rule above on
/// Linux, %APPDATA%\zkFileExport on Windows); empty when there is none.
std::filesystem::path exportChoicesPath();

/// The choices in `file`; the defaults when it is missing or can't be read.
ExportChoices loadExportChoices(const std::filesystem::path& file);

/// Writes exportChoicesText(choices) to `file` the way Save_Config writes its file: a new file
/// of an unguessable name beside it, created exclusively and never through a link, flushed to
/// the disk and renamed onto `file` (its folder is made when missing). Returns the failure of
/// the step that failed, if one did.
std::optional<Error> saveExportChoices(const ExportChoices& choices,
                                       const std::filesystem::path& file);

}  // namespace zk

#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/error.hpp"
#include "zk/settings/export_settings.hpp"

namespace zk {

/// The configuration file's name. configFilePath() says in which directory it lives.
inline constexpr const char* kConfigFileName = "zkFileExport.cfg";

/// The message the window shows when Save_Config fails, and its title.
inline constexpr const char* kSaveErrorMessage = "Error Saving Session Config File";
inline constexpr const char* kSaveErrorTitle = "Save Parameters";

/// The 16 lines of the configuration file for `settings`, each ending in CR LF:
/// SourceDir and DestDir between double quotes, UpdatePeriod in decimal, the six flags as
/// "#TRUE#" or "#FALSE#" (IncludeHeaders, Time, Data, Baseline, Resistance, Tags), then seven
/// spare items "". The defaults give 90 bytes.
///
/// A directory that can't be stored in this format is written as "" (only that directory is
/// forgotten): one holding a double quote, a CR, an LF or a NUL, or one that is not UTF-8.
std::string configFileText(const ExportSettings& settings);

/// Reads the text of a configuration file (a UTF-8 byte-order mark at its start is passed
/// over). Items end at a line end (CR LF or LF alone) or at a
/// comma outside double quotes; a quoted item is taken without its quotes. Needs 16 items:
/// two directories (quoted, or unquoted and then trimmed of blanks), UpdatePeriod as an
/// integer from -32768 to 32767, six flags "#TRUE#"/"#FALSE#", and seven spare items whose
/// content is ignored. Anything after the sixteenth item is ignored.
///
/// Returns nothing when an item is missing, a value doesn't fit its field, a quote isn't
/// closed on its line, the text holds a NUL byte, or a directory is not UTF-8.
std::optional<ExportSettings> parseConfigText(std::string_view text);

/// Reads the configuration file at `file`: all nine settings as it holds them. Fails with
/// OpenFailed when it is missing or not a file, ReadFailed when it can't be read, and
/// InvalidSettings when it is short or malformed; the caller then uses the defaults. Shows
/// nothing.
Result<ExportSettings> Load_Config(const std::filesystem::path& file);

/// Writes configFileText(settings) to `file`, creating the directory that holds it when
/// missing. The text goes to a new file of an unguessable name beside it (created exclusively,
/// never through a link), reaches the disk, and is then renamed onto `file`, so a failed save
/// leaves any earlier file as it was. A file the user may not write is not replaced. Returns
/// the failure (WriteFailed, naming the step and the cause), if a step failed; the caller shows
/// kSaveErrorMessage. Shows nothing itself.
std::optional<Error> Save_Config(const ExportSettings& settings, const std::filesystem::path& file);

/// Replaces `file` with `text` the safe way, as an OutputFile does (a link at `file` is
/// followed, its target replaced keeping its permissions); the folder is made when missing.
/// Returns the failure, if any; an earlier file is then as it was.
std::optional<Error> replaceFileSafely(const std::filesystem::path& file, const std::string& text);

}  // namespace zk

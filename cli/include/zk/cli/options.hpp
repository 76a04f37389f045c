#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "zk/settings/export_settings.hpp"

namespace zk::cli {

/// Largest --period: 20 ms × UpdatePeriod must fit a signed 16-bit number.
inline constexpr int kMaxPeriod = 1638;

/// Sets the five column flags of `settings` from a --columns list: names separated by ",",
/// any order, any case, spaces and tabs around a name ignored; "time", "data", "baseline",
/// "resistance", "tags", or "none" alone for no column. A name may repeat. Returns an error
/// message for an empty list, an empty or unknown name, or "none" beside a column name;
/// `settings` is then unchanged.
std::optional<std::string> parseColumns(std::string_view list, ExportSettings& settings);

/// The --period value: decimal digits only (no sign, no spaces, no hexadecimal), 1..kMaxPeriod.
/// Returns nothing for anything else.
std::optional<int> parsePeriod(std::string_view text);

/// The default output name for a recording: its file name (after the last "/") without its
/// last four characters, then ".csv". Characters are counted as UTF-8 code points, so a name
/// such as "größe" loses whole letters. Returns nothing when the file name has fewer than four
/// characters. "data/run1.zkd" gives "run1.csv", "run1.zk" gives "run.csv", ".zkd" gives ".csv".
std::optional<std::string> defaultOutputName(std::string_view recordingPath);

/// The folder part of a path, up to and including its last "/"; empty when it has none.
std::string folderPart(std::string_view path);

}  // namespace zk::cli

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/export/export_options.hpp"

namespace zk::cli {

/// Sets the column flags of `options` from a --columns list: the keys of kColumns separated by
/// ",", any order, any case, spaces and tabs around a name ignored, or "none" alone for no
/// column. A name may repeat. Returns an error message for an empty list, an empty or unknown
/// name, or "none" beside a column name; `options` is then unchanged.
std::optional<std::string> parseColumns(std::string_view list, ExportOptions& options);

/// The --period value: decimal digits only (no sign, no spaces, no hexadecimal),
/// 1..kMaxUpdatePeriod.
/// Returns nothing for anything else.
std::optional<int> parsePeriod(std::string_view text);

/// The characters a workbook's cell holds at most.
inline constexpr std::size_t kMaxCellCharacters = 32767;

/// The length of UTF-8 text in the units a workbook counts (UTF-16: a character beyond U+FFFF
/// takes two).
std::size_t textLength(std::string_view utf8);

/// For EDF+ and BDF+ with --start and a range: a message when the range's first row, where the
/// file starts, lies beyond the years the file can hold; nothing otherwise.
std::optional<std::string> startBeyondFile(const ExportOptions& options);

/// The target of the symbolic link at `path` when that target does not exist; nothing for
/// anything else.
std::optional<std::string> danglingLink(const std::string& path);

}  // namespace zk::cli

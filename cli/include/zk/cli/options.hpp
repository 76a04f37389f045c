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

/// The target of the symbolic link at `path` when that target does not exist; nothing for
/// anything else.
std::optional<std::string> danglingLink(const std::string& path);

}  // namespace zk::cli

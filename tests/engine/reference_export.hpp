#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zk/settings/export_settings.hpp"

namespace zk::test {

/// A deliberately plain model of the export, record by record with a string for the held row,
/// to check the fast export against. Returns nothing when the export must fail (a period out of
/// range, a schedule passing 2^31 - 1 ms).
std::optional<std::string> referenceExport(const std::vector<unsigned char>& recording,
                                           const ExportSettings& settings,
                                           std::string_view headingText);

}  // namespace zk::test

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_options.hpp"

namespace zk {

/// A count with digit groups: 4320000 gives "4,320,000".
std::string formatCount(std::uint64_t count);

/// What the file of an export could not hold as the recording has it, one note each, in the
/// words that both front ends show: values clipped to their signal's range, rows without
/// conductance whose Conductance samples became 0 uS (EDF+, BDF+; the other formats hold
/// "no conductance" as such), tags left out, the heading left out. Each note starts in lower
/// case and has no full stop. Empty when the file holds everything.
std::vector<std::string> exportNotes(const ExportResult& result, OutputFormat format);

}  // namespace zk

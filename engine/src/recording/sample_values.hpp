#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/conversions.hpp"

namespace zk::detail {

/// The numbers of the chosen value columns (Column::value) for every raw sample, worked out
/// once before the rows come: NaN for a sample without conductance.
class SampleValues {
  public:
    explicit SampleValues(const ExportOptions& options);

    /// The value of kColumns[column], a value column the options include, for sample `raw`.
    double of(std::size_t column, std::uint16_t raw) const noexcept { return tables_[column][raw]; }

    static bool hasConductance(std::uint16_t raw) noexcept {
        return raw > kLastSampleWithoutConductance;
    }

  private:
    std::array<std::vector<double>, kColumns.size()> tables_;
};

}  // namespace zk::detail

#pragma once

#include <cstdint>
#include <vector>

#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/conversions.hpp"

namespace zk::detail {

/// The numbers of the value columns as the CSV shows them, for every raw sample: the Baseline
/// level, and the Resistance and Conductance rounded to the CSV's seven digits (NaN for a
/// sample without conductance). Only the chosen columns' tables are built.
class SampleValues {
  public:
    explicit SampleValues(const ExportOptions& options);

    double baseline(std::uint16_t raw) const noexcept { return baseline_[raw]; }
    double resistance(std::uint16_t raw) const noexcept { return resistance_[raw]; }
    /// NaN where the sample has no conductance.
    double conductance(std::uint16_t raw) const noexcept { return conductance_[raw]; }

    static bool hasConductance(std::uint16_t raw) noexcept {
        return raw > kLastSampleWithoutConductance;
    }

  private:
    std::vector<double> baseline_;
    std::vector<double> resistance_;
    std::vector<double> conductance_;
};

}  // namespace zk::detail

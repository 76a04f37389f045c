#include "recording/sample_values.hpp"

#include <charconv>
#include <limits>
#include <string_view>

#include "formats/format_writers.hpp"

namespace zk::detail {

SampleValues::SampleValues(const ExportOptions& options) {
    if (options.IncludeBaseline) {
        baseline_.resize(65536);
        for (std::int32_t v = 0; v < 65536; ++v) {
            const std::string_view text = Calc_Base(v);
            std::from_chars(text.data(), text.data() + text.size(), baseline_[v]);
        }
    }
    if (options.IncludeResistance) {
        resistance_.resize(65536);
        for (std::int32_t v = 0; v < 65536; ++v) {
            resistance_[v] = Number_Field_Value(Calc_Resistance(v));
        }
    }
    if (options.IncludeConductance) {
        conductance_.resize(65536);
        for (std::int32_t v = 0; v < 65536; ++v) {
            const auto c = Calc_Conductance(v);
            conductance_[v] = c ? Number_Field_Value(*c) : std::numeric_limits<double>::quiet_NaN();
        }
    }
}

const char* writtenBy() noexcept {
    return "zk File Export " ZK_VERSION;
}

}  // namespace zk::detail

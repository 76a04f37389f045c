#include "recording/sample_values.hpp"

namespace zk::detail {

SampleValues::SampleValues(const ExportOptions& options) {
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
        const Column& column = kColumns[c];
        if (column.kind != ColumnKind::Value || !(options.*column.flag)) {
            continue;
        }
        tables_[c].resize(65536);
        for (std::int32_t v = 0; v < 65536; ++v) {
            tables_[c][v] = column.value(0, v);
        }
    }
}

const char* writtenBy() noexcept {
    return "zk File Export " ZK_VERSION;
}

}  // namespace zk::detail

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zk/engine/error.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/byte_source.hpp"

namespace zk {

/// One end of a range as the user gives it: a time of the recording, or a tag's occurrence.
struct RangeBound {
    std::optional<std::int64_t> timeMs{};  ///< a time; when empty, the tag below
    std::uint16_t tag = 0;
    std::uint32_t occurrence = 1;  ///< the k-th mark of that tag, from 1

    friend bool operator==(const RangeBound&, const RangeBound&) = default;
};

/// "h:mm:ss[.sss]", "mm:ss[.sss]", plain milliseconds ("1500"), "tag:N" (its first mark) or
/// "tag:N#k" (its k-th mark, from 1); nothing for anything else.
std::optional<RangeBound> parseRangeBound(std::string_view text) noexcept;

/// The range of rows between `from` and `to` (either may be absent: the start, the end), with
/// tags resolved to the time of the row that carries them (the tags marked before the first
/// row: 0), by one pass over the recording at options.UpdatePeriod. Fails with InvalidSettings
/// for a tag that the recording does not hold (that often), and for a range that holds no row:
/// one that ends before it starts, or starts past the recording's end; otherwise as RowSource.
Result<RowRange> resolveRange(ByteSource& source, const ExportOptions& options,
                              const std::optional<RangeBound>& from,
                              const std::optional<RangeBound>& to);

}  // namespace zk

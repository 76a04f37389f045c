#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zk/engine/error.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/export/export_options.hpp"
#include "zk/engine/recording/byte_source.hpp"

namespace zk {

/// A stretch of the recording between two tags, with what its rows hold.
///
/// The rows are the export's rows at the options' UpdatePeriod (RowSource), so an epoch's
/// numbers agree with the CSV's lines. The first epoch runs from the first row to the row that
/// carries the first tag; each tag mark starts an epoch at the row that carries it (that row is
/// the epoch's first), which runs to the next tag's row; the last runs to the end. A recording
/// without a tag is one epoch. When several tags fall into one row (a thinned row, or tags
/// marked before the first row), each starts an epoch there: all but the last hold no rows and
/// last 0 s. The first epoch, too, may hold no rows (a tag on the first row).
struct Epoch {
    std::uint32_t number = 0;            ///< from 1
    std::optional<std::uint16_t> tag{};  ///< the tag that starts it; none for the first
    std::int32_t onsetMs = 0;            ///< the time of its first row (of the tag's row)
    /// To the next epoch's onset; the last runs to the end of its last row (its time plus the
    /// row's period).
    std::int64_t durationMs = 0;
    std::uint64_t rows = 0;
    std::uint64_t rowsWithoutContact = 0;  ///< rows whose sample has no conductance
    /// Over the rows with contact, µS, as the CSV's Conductance column writes them; none when
    /// no row has contact.
    std::optional<double> meanUs{}, minUs{}, maxUs{};
    /// Skin-conductance responses found in its rows by a ResponseDetector of its own.
    std::uint64_t responses = 0;
    double responseAmplitudeUs = 0;  ///< their amplitudes summed
};

/// The epochs of the recording at options.UpdatePeriod. Fails as
/// RowSource does (ReadFailed, Cancelled, ...) and with InvalidSettings for a period below 1.
Result<std::vector<Epoch>> computeEpochs(ByteSource& source, const ExportOptions& options,
                                         const ProgressFn& progress = {});

/// The column names of the epochs table, in order.
inline constexpr const char* kEpochColumns[] = {"Epoch",
                                                "Tag Number",
                                                "Onset(sec)",
                                                "Duration(sec)",
                                                "Rows",
                                                "Rows without contact",
                                                "Conductance mean(uS)",
                                                "Conductance min(uS)",
                                                "Conductance max(uS)",
                                                "Responses",
                                                "Response amplitude(uS)"};

/// The epochs as CSV: the column-header line, then one line per epoch, each ending in CR LF.
/// Seconds with 3 decimals, µS with 4, counts as whole numbers, all without a sign position;
/// an epoch without a tag or without a row with contact has empty fields there.
std::string epochsCsv(const std::vector<Epoch>& epochs);

}  // namespace zk

#pragma once

// The rules that an export's options must keep, in one place: the command line and the window
// check them before any work, and the export checks them again before it creates anything.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zk/engine/error.hpp"
#include "zk/engine/export/export_options.hpp"

namespace zk {

/// The choice that a problem of the options concerns, so that a front end can point at it (an
/// option of the command line, a field of a dialog).
enum class OptionField { Period, Columns, Heading, Start, Epochs, Subject, Session, Task };

/// A broken rule of the options: the choice it concerns, and what is wrong in words that
/// either front end shows as they are (no path, no option's name).
struct OptionProblem {
    OptionField field;
    std::string message;
};

/// The characters a workbook's cell holds at most.
inline constexpr std::size_t kMaxCellCharacters = 32767;

/// The length of UTF-8 text in the units a workbook counts (UTF-16: a character beyond U+FFFF
/// takes two).
std::size_t textLength(std::string_view utf8) noexcept;

/// The problems of a run's BIDS labels: the subject and the task are required when `needed`,
/// and every label given is letters and digits only. In the order subject, session, task.
std::vector<OptionProblem> labelProblems(const FormatChoices& choices, bool needed);

/// Every rule that `options` break, in the order of OptionField: a period out of bounds (or,
/// for a format of signals, below 1); a format of signals without a column of values; a heading
/// longer than a workbook's cell; a start (moved on to the range's first row) outside the years
/// that EDF+ and BDF+ hold; epochs in a format that has no place for them; the BIDS labels.
std::vector<OptionProblem> optionProblems(const ExportOptions& options);

/// The first of optionProblems() as the one error value (InvalidSettings, naming `name`), or
/// nothing when the options can be exported.
std::optional<Error> validateOptions(const ExportOptions& options, const std::string& name = {});

}  // namespace zk

#include "zk/engine/export/validate.hpp"

#include <algorithm>
#include <cstdio>

#include "zk/engine/formats/formats.hpp"

namespace zk {

namespace {

std::string periodProblem(const ExportOptions& options) {
    const std::string period = std::to_string(options.UpdatePeriod);
    if (!rowStepMs(options.UpdatePeriod)) {
        return "the update period " + period + " is out of range: it must lie between -" +
               std::to_string(kMaxUpdatePeriod) + " and " + std::to_string(kMaxUpdatePeriod) +
               " samples";
    }
    if (isSignalFormat(options.format) && options.UpdatePeriod < 1) {
        return "the update period " + period +
               " is not a rate: " + std::string(formatName(options.format)) +
               " needs a period of 1 or more samples";
    }
    return {};
}

// EDF+ and BDF+ hold a start from 1985 to 2084; the file starts at the range's first row.
std::string startProblem(const ExportOptions& options) {
    const bool edf = options.format == OutputFormat::Edf;
    if ((!edf && options.format != OutputFormat::Bdf) || !options.choices.start) {
        return {};
    }
    const StartTime t = laterStart(*options.choices.start, rangeOriginMs(options) / 1000);
    if (t.year >= 1985 && t.year <= 2084) {
        return {};
    }
    return "the file would start at " + formatStartTime(t) +
           ", beyond the years 1985 to 2084 that " + (edf ? "an EDF+" : "a BDF+") +
           " file can hold";
}

}  // namespace

std::size_t textLength(std::string_view utf8) noexcept {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        // A lead byte starts one unit; one of four bytes, a character beyond U+FFFF, two.
        units += (u & 0xC0) != 0x80 ? (u >= 0xF0 ? 2 : 1) : 0;
    }
    return units;
}

std::vector<OptionProblem> labelProblems(const FormatChoices& choices, bool needed) {
    const struct {
        OptionField field;
        const char* what;
        const std::string& label;
        bool required;
    } labels[] = {{OptionField::Subject, "subject", choices.subject, needed},
                  {OptionField::Session, "session", choices.session, false},
                  {OptionField::Task, "task", choices.task, needed}};
    std::vector<OptionProblem> problems;
    for (const auto& l : labels) {
        if (l.label.empty() && l.required) {
            problems.push_back({l.field, std::string("a BIDS dataset needs a ") + l.what +
                                             " label: letters and digits (A-Z, a-z, 0-9)"});
        } else if (!l.label.empty() && !isBidsLabel(l.label)) {
            problems.push_back({l.field, std::string("the BIDS ") + l.what + " label \"" + l.label +
                                             "\" must be " + (l.required ? "" : "empty or ") +
                                             "letters and digits only (A-Z, a-z, 0-9)"});
        }
    }
    return problems;
}

std::vector<OptionProblem> optionProblems(const ExportOptions& options) {
    std::vector<OptionProblem> problems;
    const std::string format(formatName(options.format));
    if (std::string problem = periodProblem(options); !problem.empty()) {
        problems.push_back({OptionField::Period, std::move(problem)});
    }
    if (isSignalFormat(options.format) && !hasSignalColumn(options)) {
        problems.push_back(
            {OptionField::Columns,
             format + " needs a column of values: data, baseline, resistance or conductance"});
    }
    if (options.format == OutputFormat::Xlsx && options.IncludeHeaders) {
        const std::size_t length = options.heading ? textLength(*options.heading) : 0;
        if (length > kMaxCellCharacters) {
            problems.push_back({OptionField::Heading,
                                "a workbook's cell holds at most 32,767 characters; the heading "
                                "has " +
                                    std::to_string(length)});
        }
    }
    if (std::string problem = startProblem(options); !problem.empty()) {
        problems.push_back({OptionField::Start, std::move(problem)});
    }
    if (options.epochs && options.format != OutputFormat::Csv &&
        options.format != OutputFormat::Xlsx) {
        problems.push_back({OptionField::Epochs,
                            "epochs are written as CSV or into a workbook, not as " + format});
    }
    if (options.format == OutputFormat::Bids) {
        std::ranges::move(labelProblems(options.choices, true), std::back_inserter(problems));
    }
    return problems;
}

std::optional<Error> validateOptions(const ExportOptions& options, const std::string& name) {
    std::vector<OptionProblem> problems = optionProblems(options);
    if (problems.empty()) {
        return std::nullopt;
    }
    return Error(ErrorCode::InvalidSettings, std::move(problems.front().message), name);
}

}  // namespace zk

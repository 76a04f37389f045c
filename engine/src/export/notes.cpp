#include "zk/engine/export/notes.hpp"

#include <cstddef>

namespace zk {

namespace {

// "1 tag did not fit" or "3 tags did not fit": the count, then the words for one or for many.
std::string counted(std::uint64_t count, const char* one, const char* many) {
    return formatCount(count) + (count == 1 ? one : many);
}

}  // namespace

std::string formatCount(std::uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

std::vector<std::string> exportNotes(const ExportResult& result, OutputFormat format) {
    std::vector<std::string> notes;
    if (result.valuesClipped > 0) {
        notes.push_back(counted(result.valuesClipped,
                                " value lay outside its signal's range and was clipped to it",
                                " values lay outside their signal's range and were clipped to it"));
    }
    // Elsewhere a row without conductance keeps an empty field, an empty cell or "n/a".
    const bool zeroForNone = format == OutputFormat::Edf || format == OutputFormat::Bdf;
    if (zeroForNone && result.rowsWithoutConductance > 0) {
        notes.push_back(counted(result.rowsWithoutConductance,
                                " row has no conductance (the resistance is zero or negative); "
                                "its Conductance sample is 0 uS",
                                " rows have no conductance (the resistance is zero or negative); "
                                "their Conductance samples are 0 uS"));
    }
    if (result.tagsLeftOut > 0) {
        notes.push_back(counted(result.tagsLeftOut, " tag did not fit in the file and was left out",
                                " tags did not fit in the file and were left out"));
    }
    if (result.headingLeftOut) {
        notes.emplace_back("the heading has no place in the file and was left out");
    }
    return notes;
}

}  // namespace zk

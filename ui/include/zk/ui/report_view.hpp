#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace zk {
struct RecordingReport;
}  // namespace zk

namespace zk::ui {

/// What the report window shows of a recording's report, every text ready to show: the facts
/// (the tags only counted, as the table lists them), the whole text that Copy takes, the
/// caption over the table of tags and the table itself.
struct ReportView {
    std::string title;                 ///< "Recording Report - run1.zkd"
    std::string text;                  ///< the facts, the tags counted
    std::string fullText;              ///< the facts and the tags, one a line: what Copy takes
    std::string caption;               ///< "Tags: " and what the rows of the table mean
    std::vector<std::string> headers;  ///< Tag, TimeMs, Time, CSV row
    std::vector<std::vector<std::string>> rows;  ///< one a tag, cells under the headers

    /// The clock column reads from the left; the numbers line up on the right.
    static bool alignedLeft(std::size_t column) noexcept { return column == 2; }

    /// What copying cells of the table gives (as copiedCells()), the cells given by (row,
    /// column) as the table shows them: row 0 is the first tag, not the headers.
    std::string copied(const std::vector<std::pair<int, int>>& shownCells) const;
};

/// The view of `report`.
ReportView reportView(const RecordingReport& report);

}  // namespace zk::ui

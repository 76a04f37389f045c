#include "zk/ui/report_view.hpp"

#include <filesystem>

#include "zk/engine/analyses/report.hpp"

namespace zk::ui {

ReportView reportView(const RecordingReport& report) {
    ReportView view;
    view.title = "Recording Report - " + std::filesystem::path(report.path).filename().string();
    view.text = reportText(report, false);
    view.fullText = reportText(report);
    view.caption = "Tags: " + tagRowsMeaning(report);
    std::vector<std::vector<std::string>> table = reportTagTable(report);
    view.headers = std::move(table.front());
    view.rows.assign(std::make_move_iterator(table.begin() + 1),
                     std::make_move_iterator(table.end()));
    return view;
}

std::string ReportView::copied(const std::vector<std::pair<int, int>>& shownCells) const {
    // copiedCells() counts the header row as the table's first.
    std::vector<std::vector<std::string>> table{headers};
    table.insert(table.end(), rows.begin(), rows.end());
    std::vector<std::pair<int, int>> cells;
    cells.reserve(shownCells.size());
    for (const auto& [row, column] : shownCells) {
        if (row < 0) {
            continue;  // not a cell of the table shown
        }
        cells.emplace_back(row + 1, column);
    }
    return copiedCells(table, cells);
}

}  // namespace zk::ui

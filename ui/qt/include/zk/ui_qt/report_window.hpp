#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "zk/ui/report_view.hpp"

class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace zk::ui_qt {

/// frmReport: what is in the loaded recording, read-only: the report's text (selectable, with
/// a Copy button for all of it) above a table of the tags (number, TimeMs, time, CSV row), under a
/// caption that says which CSV and rate the rows are for. Ctrl+C (or Copy in the table's menu)
/// copies the selected cells as tab-separated rows. Escape closes it. Each report replaces what an
/// open window showed.
class ReportWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ReportWindow(QWidget* parent = nullptr);

    /// Shows a report: its facts as text, its tags as the table.
    void showReport(ui::ReportView view);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void copySelectedCells();

    QLabel* caption_ = nullptr;
    ui::ReportView view_;
    QPlainTextEdit* text_ = nullptr;
    QTableWidget* tags_ = nullptr;
};

}  // namespace zk::ui_qt

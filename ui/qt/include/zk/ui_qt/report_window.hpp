#pragma once

#include <QWidget>

#include "zk/engine/report.hpp"

class QPlainTextEdit;
class QTableWidget;

namespace zk::ui_qt {

/// frmReport: what is in the loaded recording, read-only: the report's text (selectable, with
/// a Copy button for all of it) above a table of the tags (number, TimeMs, time, CSV row).
/// Escape closes it. Each report replaces what an open window showed.
class ReportWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ReportWindow(QWidget* parent = nullptr);

    /// Shows `report`: its facts as text, its tags as the table.
    void showReport(const RecordingReport& report);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QPlainTextEdit* text_ = nullptr;
    QTableWidget* tags_ = nullptr;
    QString fullText_;
};

}  // namespace zk::ui_qt

#pragma once

#include <QDialog>

#include "zk/settings/export_choices.hpp"

class QLineEdit;

namespace zk::ui_qt {

/// dlgExportOptions: the BIDS labels (txtSubject, txtSession, txtTask) and the recording's
/// start (txtStart) in a form, with OK and Cancel. It shows and gives back the choices as
/// typed; the window's logic checks them.
class ExportOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ExportOptionsDialog(const ExportChoices& current, QWidget* parent = nullptr);

    /// What the fields hold now, the column flags as given.
    ExportChoices choices() const;

  private:
    ExportChoices given_;
    QLineEdit* subject_;
    QLineEdit* session_;
    QLineEdit* task_;
    QLineEdit* start_;
};

}  // namespace zk::ui_qt

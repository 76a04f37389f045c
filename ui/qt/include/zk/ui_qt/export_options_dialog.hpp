#pragma once

#include <QDialog>
#include <vector>

#include "zk/settings/export_choices.hpp"
#include "zk/ui/toolkit.hpp"

class QLineEdit;

namespace zk::ui_qt {

/// dlgExportOptions: the BIDS labels (txtSubject, txtSession, txtTask) and the recording's
/// start (txtStart) in a form, with OK and Cancel, and above them (lblProblems) what was wrong
/// with the choices given last, the focus in the field of the first problem. It shows and gives
/// back the choices as typed; the window's logic checks them.
class ExportOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    ExportOptionsDialog(const ExportChoices& current,
                        const std::vector<ui::ChoiceProblem>& problems = {},
                        QWidget* parent = nullptr);

    /// The field of a choice.
    QLineEdit* fieldOf(ui::ChoiceField field) const;

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

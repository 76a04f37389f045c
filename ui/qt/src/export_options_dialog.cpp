#include "zk/ui_qt/export_options_dialog.hpp"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zk::ui_qt {
namespace {

QLineEdit* field(const std::string& text, const char* name, const QString& hint, QWidget* parent) {
    auto* edit = new QLineEdit(QString::fromStdString(text), parent);
    edit->setObjectName(name);
    edit->setPlaceholderText(hint);
    return edit;
}

}  // namespace

ExportOptionsDialog::ExportOptionsDialog(const ExportChoices& current, QWidget* parent)
    : QDialog(parent), given_(current) {
    setObjectName("dlgExportOptions");
    setWindowTitle("Export Options");

    auto* bids = new QGroupBox("BIDS dataset", this);
    bids->setObjectName("fraBids");
    auto* bidsForm = new QFormLayout(bids);
    subject_ = field(current.subject, "txtSubject", "e.g. 01", bids);
    session_ = field(current.session, "txtSession", "none", bids);
    task_ = field(current.task, "txtTask", "e.g. rest", bids);
    bidsForm->addRow("Subject:", subject_);
    bidsForm->addRow("Session:", session_);
    bidsForm->addRow("Task:", task_);
    auto* bidsNote = new QLabel("Letters and digits only; the session may be left empty.", bids);
    bidsNote->setWordWrap(true);
    bidsForm->addRow(bidsNote);

    auto* start = new QGroupBox("Recording start (Excel workbook, EDF+, BDF+)", this);
    start->setObjectName("fraStart");
    auto* startForm = new QFormLayout(start);
    start_ = field(current.start, "txtStart", "YYYY-MM-DD HH:MM:SS", start);
    startForm->addRow("Started at:", start_);
    auto* startNote = new QLabel(
        "Left empty, it is estimated from the time the recording file was written.", start);
    startNote->setWordWrap(true);
    startForm->addRow(startNote);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("btnsExportOptions");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bids);
    layout->addWidget(start);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

ExportChoices ExportOptionsDialog::choices() const {
    ExportChoices c = given_;
    c.subject = subject_->text().trimmed().toStdString();
    c.session = session_->text().trimmed().toStdString();
    c.task = task_->text().trimmed().toStdString();
    c.start = start_->text().trimmed().toStdString();
    return c;
}

}  // namespace zk::ui_qt

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

// A note under the fields, wrapped to the dialog's width.
QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

ExportOptionsDialog::ExportOptionsDialog(const ExportChoices& current,
                                         const std::vector<ui::ChoiceProblem>& problems,
                                         QWidget* parent)
    : QDialog(parent), given_(current) {
    setObjectName("dlgExportOptions");
    setWindowTitle("Export Options");

    // What was wrong with the choices given last, every problem on a line of its own.
    auto* problemText = new QLabel(this);
    problemText->setObjectName("lblProblems");
    problemText->setTextFormat(Qt::PlainText);
    problemText->setWordWrap(true);
    QPalette pal = problemText->palette();
    pal.setColor(QPalette::WindowText, QColor(176, 32, 32));
    problemText->setPalette(pal);
    QStringList lines;
    for (const ui::ChoiceProblem& p : problems) {
        lines << QString::fromStdString(p.text);
    }
    problemText->setText(lines.join('\n'));
    problemText->setVisible(!problems.empty());

    auto* bids = new QGroupBox("BIDS dataset", this);
    bids->setObjectName("fraBids");
    auto* bidsForm = new QFormLayout(bids);
    bidsForm->setRowWrapPolicy(QFormLayout::WrapLongRows);
    subject_ = field(current.subject, "txtSubject", "e.g. 01", bids);
    session_ = field(current.session, "txtSession", "none", bids);
    task_ = field(current.task, "txtTask", "e.g. rest", bids);
    bidsForm->addRow("Subject:", subject_);
    bidsForm->addRow("Session:", session_);
    bidsForm->addRow("Task:", task_);
    bidsForm->addRow(note("Letters and digits only; the session may be left empty.", bids));

    auto* start = new QGroupBox("Recording start (Excel workbook, EDF+, BDF+)", this);
    start->setObjectName("fraStart");
    auto* startForm = new QFormLayout(start);
    startForm->setRowWrapPolicy(QFormLayout::WrapLongRows);
    start_ = field(current.start, "txtStart", "YYYY-MM-DD HH:MM:SS", start);
    startForm->addRow("Started at:", start_);
    startForm->addRow(
        note("Left empty, it is estimated from the time the recording file was written.", start));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("btnsExportOptions");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(problemText);
    layout->addWidget(bids);
    layout->addWidget(start);
    layout->addWidget(buttons);
    // Wrapped notes need the height that goes with the width: the dialog is laid out for its
    // width, so that no note is cut off.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setMinimumWidth(std::min(360, minimumSizeHint().width()));

    // The focus goes to the field of the first problem, its text selected for typing over.
    if (!problems.empty()) {
        QLineEdit* at = fieldOf(problems.front().field);
        at->setFocus();
        at->selectAll();
    }
}

QLineEdit* ExportOptionsDialog::fieldOf(ui::ChoiceField f) const {
    switch (f) {
        case ui::ChoiceField::Subject:
            return subject_;
        case ui::ChoiceField::Session:
            return session_;
        case ui::ChoiceField::Task:
            return task_;
        case ui::ChoiceField::Start:
            break;
    }
    return start_;
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

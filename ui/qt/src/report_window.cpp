#include "zk/ui_qt/report_window.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zk::ui_qt {

ReportWindow::ReportWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmReport");
    resize(760, 600);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("txtReport");
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    tags_ = new QTableWidget(0, 4, this);
    tags_->setObjectName("tblTags");
    tags_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* copyCells = new QAction(tr("&Copy"), tags_);
    copyCells->setObjectName("mnuCopyCells");
    connect(copyCells, &QAction::triggered, this, &ReportWindow::copySelectedCells);
    tags_->addAction(copyCells);
    tags_->setContextMenuPolicy(Qt::ActionsContextMenu);
    // The table's own Ctrl+C copies only the current cell.
    tags_->installEventFilter(this);
    caption_ = new QLabel(this);
    caption_->setObjectName("lblTags");
    caption_->setWordWrap(true);
    tags_->verticalHeader()->setVisible(false);
    tags_->horizontalHeader()->setStretchLastSection(true);
    auto* copy = new QPushButton(tr("Copy"), this);
    copy->setObjectName("cmdCopy");
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(fullText_); });
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName("cmdClose");
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copy);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_, 3);
    layout->addWidget(caption_);
    layout->addWidget(tags_, 2);
    layout->addLayout(buttons);
}

void ReportWindow::showReport(const RecordingReport& report) {
    fullText_ = QString::fromStdString(reportText(report));
    text_->setPlainText(QString::fromStdString(reportText(report, false)));
    caption_->setText(QString::fromStdString("Tags: " + tagRowsMeaning(report)));
    table_ = reportTagTable(report);
    QStringList headers;
    for (const std::string& header : table_.front()) {
        headers << QString::fromStdString(header);
    }
    tags_->setHorizontalHeaderLabels(headers);
    tags_->setRowCount(static_cast<int>(table_.size() - 1));
    for (std::size_t row = 1; row < table_.size(); ++row) {
        for (std::size_t c = 0; c < table_[row].size(); ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(table_[row][c]));
            item->setTextAlignment(c == 2 ? Qt::AlignLeft | Qt::AlignVCenter
                                          : Qt::AlignRight | Qt::AlignVCenter);
            tags_->setItem(static_cast<int>(row - 1), static_cast<int>(c), item);
        }
    }
    tags_->resizeColumnsToContents();
    setWindowTitle(
        tr("Recording Report - %1").arg(QFileInfo(QString::fromStdString(report.path)).fileName()));
    show();
    raise();
    activateWindow();
}

void ReportWindow::copySelectedCells() {
    // The table's rows below its header row.
    std::vector<std::pair<int, int>> cells;
    for (const QModelIndex& index : tags_->selectionModel()->selectedIndexes()) {
        cells.emplace_back(index.row() + 1, index.column());
    }
    QApplication::clipboard()->setText(QString::fromStdString(copiedCells(table_, cells)));
}

bool ReportWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tags_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelectedCells();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ReportWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zk::ui_qt

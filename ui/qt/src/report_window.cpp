#include "zk/ui_qt/report_window.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
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
            [this] { QApplication::clipboard()->setText(QString::fromStdString(view_.fullText)); });
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

void ReportWindow::showReport(ui::ReportView view) {
    view_ = std::move(view);
    text_->setPlainText(QString::fromStdString(view_.text));
    caption_->setText(QString::fromStdString(view_.caption));
    QStringList headers;
    for (const std::string& header : view_.headers) {
        headers << QString::fromStdString(header);
    }
    tags_->setHorizontalHeaderLabels(headers);
    tags_->setRowCount(static_cast<int>(view_.rows.size()));
    for (std::size_t row = 0; row < view_.rows.size(); ++row) {
        for (std::size_t c = 0; c < view_.rows[row].size(); ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(view_.rows[row][c]));
            item->setTextAlignment(ui::ReportView::alignedLeft(c)
                                       ? Qt::AlignLeft | Qt::AlignVCenter
                                       : Qt::AlignRight | Qt::AlignVCenter);
            tags_->setItem(static_cast<int>(row), static_cast<int>(c), item);
        }
    }
    tags_->resizeColumnsToContents();
    setWindowTitle(QString::fromStdString(view_.title));
    show();
    raise();
    activateWindow();
}

void ReportWindow::copySelectedCells() {
    std::vector<std::pair<int, int>> cells;
    for (const QModelIndex& index : tags_->selectionModel()->selectedIndexes()) {
        cells.emplace_back(index.row(), index.column());
    }
    QApplication::clipboard()->setText(QString::fromStdString(view_.copied(cells)));
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

#include "zk/ui_qt/report_window.hpp"

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
    tags_->setHorizontalHeaderLabels({tr("Tag"), tr("TimeMs"), tr("Time"), tr("CSV row")});
    tags_->setEditTriggers(QAbstractItemView::NoEditTriggers);
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
    layout->addWidget(new QLabel(tr("Tags"), this));
    layout->addWidget(tags_, 2);
    layout->addLayout(buttons);
}

void ReportWindow::showReport(const RecordingReport& report) {
    fullText_ = QString::fromStdString(reportText(report));
    text_->setPlainText(QString::fromStdString(reportText(report, false)));
    tags_->setRowCount(static_cast<int>(report.tags.size()));
    int row = 0;
    for (const ReportTag& t : report.tags) {
        const QString cells[] = {QString::number(t.number), QString::number(t.timeMs),
                                 QString::fromStdString(formatClock(t.timeMs, true)),
                                 QString::number(t.row + 1)};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(c == 2 ? Qt::AlignLeft | Qt::AlignVCenter
                                          : Qt::AlignRight | Qt::AlignVCenter);
            tags_->setItem(row, c, item);
        }
        ++row;
    }
    tags_->resizeColumnsToContents();
    setWindowTitle(tr("Recording Report - %1")
                       .arg(QFileInfo(QString::fromStdString(report.path)).fileName()));
    show();
    raise();
    activateWindow();
}

void ReportWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zk::ui_qt

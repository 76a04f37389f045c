#include "zk/ui_qt/preview_window.hpp"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

namespace zk::ui_qt {

const QColor PreviewPlot::kTraceColour(31, 95, 168);
const QColor PreviewPlot::kTagColour(214, 69, 65);
const QColor PreviewPlot::kRowColour(22, 150, 100);

namespace {

const QColor kGrid(232, 234, 238);
const QColor kFrame(160, 166, 176);
const QColor kText(60, 64, 72);
const QColor kHover(120, 126, 136);

QRect toQt(const ui::PixelBox& b) {
    return QRect(b.left, b.top, b.width, b.height);
}

ui::PixelBox fromQt(const QRect& r) {
    return {r.left(), r.top(), r.width(), r.height()};
}

QPointF toQt(const ui::PlotPoint& p) {
    return QPointF(p.x, p.y);
}

Qt::Alignment toQt(ui::PlotText::Align align) {
    switch (align) {
        case ui::PlotText::Align::RightMiddle:
            return Qt::AlignRight | Qt::AlignVCenter;
        case ui::PlotText::Align::CentreTop:
            return Qt::AlignHCenter;
        case ui::PlotText::Align::Centre:
            return Qt::AlignCenter;
    }
    return Qt::AlignCenter;
}

void drawText(QPainter& p, const ui::PlotText& t) {
    p.drawText(toQt(t.box), toQt(t.align), QString::fromStdString(t.text));
}

}  // namespace

PreviewPlot::PreviewPlot(QWidget* parent) : QWidget(parent) {
    setObjectName("picPlot");
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewPlot::setData(const ui::PreviewData* data, const ui::RowSchedule* schedule) {
    data_ = data;
    schedule_ = schedule;
    view_ = data ? ui::PreviewView(data->firstX(), data->lastX()) : ui::PreviewView();
    setHovered(SIZE_MAX);
    update();
    emit viewChanged();
}

void PreviewPlot::setSchedule(const ui::RowSchedule* schedule) {
    schedule_ = schedule;
    update();
}

void PreviewPlot::zoom(double factor, double anchor) {
    view_.zoom(factor, anchor);
    update();
    emit viewChanged();
}

void PreviewPlot::pan(double fraction) {
    view_.pan(fraction);
    update();
    emit viewChanged();
}

void PreviewPlot::resetView() {
    view_.reset();
    update();
    emit viewChanged();
}

ui::PlotFont PreviewPlot::plotFont() const {
    const QFontMetrics fm(font());
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics bfm(bold);
    return {fm.height(), fm.horizontalAdvance(ui::PlotFont::kValueLabelRoom), bfm.height(),
            [bfm](const std::string& text) {
                return bfm.horizontalAdvance(QString::fromStdString(text));
            }};
}

QRect PreviewPlot::plotArea(const QRect& area) const {
    return toQt(ui::plotBox(fromQt(area), plotFont()));
}

void PreviewPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint(p, rect());
}

void PreviewPlot::paint(QPainter& p, const QRect& area) const {
    const ui::PlotScene scene =
        ui::layoutPlot(fromQt(area), plotFont(), data_, schedule_, view_, selection_, hovered_);
    p.save();
    p.setFont(font());
    p.fillRect(area, QColor(250, 250, 251));
    const QRect plot = toQt(scene.plot);
    p.fillRect(plot, Qt::white);
    if (scene.message) {
        p.setPen(kText);
        p.drawText(area, Qt::AlignCenter, QString::fromStdString(*scene.message));
        p.restore();
        return;
    }
    drawAxes(p, scene);
    p.setClipRect(plot);
    drawTrace(p, scene.trace);
    drawRows(p, scene);
    drawTags(p, scene);
    p.setClipRect(plot);
    drawSelectionAndHover(p, scene);
    p.setClipping(false);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(kFrame);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.restore();
}

void PreviewPlot::drawAxes(QPainter& p, const ui::PlotScene& scene) const {
    const QRect plot = toQt(scene.plot);
    p.setPen(kGrid);
    for (const double y : scene.axes.gridYs) {
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    for (const double x : scene.axes.gridXs) {
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    p.setPen(kText);
    for (const ui::PlotText& label : scene.axes.labels) {
        drawText(p, label);
    }
    drawText(p, scene.axes.timeTitle);
    p.save();
    p.translate(toQt(scene.axes.valueTitleAt));
    p.rotate(-90);
    drawText(p, scene.axes.valueTitle);
    p.restore();
}

void PreviewPlot::drawTrace(QPainter& p, const ui::PlotTrace& trace) const {
    if (trace.throughSamples) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(kTraceColour, 1.6));
        QPainterPath path;
        for (std::size_t i = 0; i < trace.points.size(); ++i) {
            trace.starts[i] ? path.moveTo(toQt(trace.points[i]))
                            : path.lineTo(toQt(trace.points[i]));
        }
        p.drawPath(path);
        p.setRenderHint(QPainter::Antialiasing, false);
        return;
    }
    p.setPen(QPen(kTraceColour, 1));
    for (const auto& bar : trace.bars) {
        p.drawLine(QPointF(bar.x, bar.from), QPointF(bar.x, bar.to));
    }
}

void PreviewPlot::drawRows(QPainter& p, const ui::PlotScene& scene) const {
    if (scene.rows.dots.empty()) {
        return;
    }
    const int bottom = scene.plot.bottom();
    const double radius = scene.rows.radius;
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const ui::PlotPoint& dot : scene.rows.dots) {
        p.setPen(QPen(Qt::white, 1.2));
        p.setBrush(kRowColour);
        p.drawEllipse(toQt(dot), radius, radius);
        p.setPen(QPen(kRowColour, 1.5));
        p.drawLine(QPointF(dot.x, bottom - 5), QPointF(dot.x, bottom));
    }
    p.setBrush(Qt::NoBrush);
    p.setRenderHint(QPainter::Antialiasing, false);
}

void PreviewPlot::drawTags(QPainter& p, const ui::PlotScene& scene) const {
    const QRect plot = toQt(scene.plot);
    const QPen line = scene.denseTags ? QPen(kTagColour, 1) : QPen(kTagColour, 1, Qt::DashLine);
    QFont bold = font();
    bold.setBold(true);
    for (const ui::PlotTag& tag : scene.tags) {
        p.setClipRect(plot);
        p.setPen(line);
        p.drawLine(QPointF(tag.x, plot.top()), QPointF(tag.x, tag.lineTo));
        if (tag.row < 0) {
            continue;
        }
        p.setClipRect(toQt(scene.area));
        if (tag.row == 1) {
            p.setPen(kTagColour);
            p.drawLine(QPointF(tag.x, tag.label.box.bottom()), QPointF(tag.x, plot.top()));
        }
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(kTagColour);
        p.drawRoundedRect(toQt(tag.label.box), 3, 3);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setBrush(Qt::NoBrush);
        p.setPen(Qt::white);
        p.setFont(bold);
        drawText(p, tag.label);
        p.setFont(font());
    }
}

void PreviewPlot::drawSelectionAndHover(QPainter& p, const ui::PlotScene& scene) const {
    const QRect plot = toQt(scene.plot);
    if (scene.selection) {
        p.fillRect(QRectF(scene.selection->left, plot.top(), scene.selection->width, plot.height()),
                   QColor(60, 120, 220, 48));
    }
    if (scene.hovered) {
        const QPointF pt = toQt(*scene.hovered);
        p.setPen(QPen(kHover, 1, Qt::DotLine));
        p.drawLine(QPointF(std::round(pt.x()) + 0.5, plot.top()),
                   QPointF(std::round(pt.x()) + 0.5, plot.bottom()));
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(kTraceColour, 2));
        p.setBrush(Qt::white);
        p.drawEllipse(pt, 4, 4);
    }
}

void PreviewPlot::wheelEvent(QWheelEvent* event) {
    const QRect plot = plotArea(rect());
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0.0 || plot.width() <= 0) {
        event->ignore();
        return;
    }
    const double anchor =
        std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
    zoom(std::pow(1.25, steps), anchor);
    event->accept();
}

double PreviewPlot::timeAt(double px) const {
    const QRect plot = plotArea(rect());
    const double fraction =
        plot.width() > 0 ? std::clamp((px - plot.left()) / plot.width(), 0.0, 1.0) : 0.0;
    return view_.begin() + fraction * view_.span();
}

void PreviewPlot::setSelection(const ui::PreviewSelection& selection) {
    selection_ = selection;
    update();
    emit selectionChanged();
}

void PreviewPlot::mousePressEvent(QMouseEvent* event) {
    const bool select =
        event->button() == Qt::RightButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
    if (select && data_ != nullptr && !data_->empty()) {
        selecting_ = true;
        ui::PreviewSelection s;
        s.setStart(timeAt(event->position().x()));
        setSelection(s);
    } else if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragFrom_ = event->position().toPoint();
        dragBegin_ = view_.begin();
        setCursor(Qt::ClosedHandCursor);
    }
}

void PreviewPlot::mouseMoveEvent(QMouseEvent* event) {
    const QRect plot = plotArea(rect());
    if (selecting_) {
        ui::PreviewSelection s = selection_;
        s.setEnd(timeAt(event->position().x()));
        setSelection(s);
    } else if (dragging_ && plot.width() > 0) {
        const double dx = event->position().x() - dragFrom_.x();
        view_.panBy(dragBegin_ - dx * view_.span() / plot.width() - view_.begin());
        update();
        emit viewChanged();
    }
    if (data_ && !data_->empty() && plot.contains(event->position().toPoint())) {
        const double x =
            view_.begin() + (event->position().x() - plot.left()) / plot.width() * view_.span();
        setHovered(data_->nearest(x));
    } else {
        setHovered(SIZE_MAX);
    }
}

void PreviewPlot::mouseReleaseEvent(QMouseEvent* event) {
    if (selecting_) {
        selecting_ = false;
    } else if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        unsetCursor();
    }
}

void PreviewPlot::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        resetView();
    }
}

void PreviewPlot::leaveEvent(QEvent*) {
    setHovered(SIZE_MAX);
}

void PreviewPlot::setHovered(std::size_t sample) {
    if (sample != hovered_) {
        hovered_ = sample;
        update();
        emit hoveredChanged(sample);
    }
}

RecordingPreview::RecordingPreview(QWidget* parent)
    : QWidget(parent, Qt::Window),
      data_(std::make_shared<const ui::PreviewData>()),
      schedule_(std::make_shared<const ui::RowSchedule>()) {
    setObjectName("frmPreview");
    setWindowTitle(tr("Recording Preview"));
    resize(960, 540);

    plot_ = new PreviewPlot(this);
    readout_ = new QLabel(this);
    readout_->setObjectName("lblReadout");
    readout_->setTextFormat(Qt::PlainText);
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    readout_->setMinimumHeight(readout_->fontMetrics().height() + 4);
    // The lines under the plot wrap rather than widen the window beyond its screen.
    readout_->setWordWrap(true);
    auto* help = new QLabel(
        tr("Wheel or + and -: zoom   Drag or Left and Right: move   Double-click or Home: the "
           "whole recording   Right-drag, Shift-drag or [ and ]: select   Escape: close"),
        this);
    help->setObjectName("lblHelp");
    help->setWordWrap(true);
    QPalette pal = help->palette();
    pal.setColor(QPalette::WindowText, QColor(110, 114, 122));
    help->setPalette(pal);

    selectionText_ = new QLabel(this);
    selectionText_->setObjectName("lblSelection");
    selectionText_->setTextFormat(Qt::PlainText);
    selectionText_->setWordWrap(true);
    exportSelection_ = new QPushButton(tr("Export Selection..."), this);
    exportSelection_->setObjectName("cmdExportSelection");
    exportSelection_->setFocusPolicy(Qt::NoFocus);  // the keys stay with the plot
    auto* selectionRow = new QHBoxLayout;
    selectionRow->addWidget(selectionText_, 1);
    selectionRow->addWidget(exportSelection_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 6);
    layout->setSpacing(4);
    layout->addWidget(plot_, 1);
    layout->addWidget(readout_);
    layout->addLayout(selectionRow);
    layout->addWidget(help);

    connect(plot_, &PreviewPlot::selectionChanged, this, &RecordingPreview::showSelection);
    connect(exportSelection_, &QPushButton::clicked, this, [this] {
        if (const auto range = plot_->selection().rangeMs()) {
            emit exportSelectionRequested(data_.get(), range->first, range->second);
        }
    });
    showSelection();

    connect(plot_, &PreviewPlot::hoveredChanged, this, &RecordingPreview::showReadout);
    plot_->setData(data_.get(), schedule_.get());
    showReadout(SIZE_MAX);
}

RecordingPreview::~RecordingPreview() = default;

void RecordingPreview::show(std::shared_ptr<const ui::PreviewData> data,
                            std::shared_ptr<const ui::RowSchedule> rows, const QString& name) {
    plot_->setData(data.get(), rows.get());
    plot_->setSelection({});  // a selection belongs to the recording it was made in
    data_ = std::move(data);
    schedule_ = std::move(rows);
    loaded_ = true;
    setWindowTitle(tr("Recording Preview - %1").arg(name));
    showSelection();
    showReadout(SIZE_MAX);
    QWidget::show();
    plot_->setFocus();
}

void RecordingPreview::showEmpty() {
    plot_->setData(nullptr, nullptr);
    plot_->setSelection({});
    data_ = std::make_shared<const ui::PreviewData>();
    schedule_ = std::make_shared<const ui::RowSchedule>();
    loaded_ = false;
    setWindowTitle(tr("Recording Preview"));
    showSelection();
    showReadout(SIZE_MAX);
}

void RecordingPreview::setRows(std::shared_ptr<const ui::RowSchedule> rows) {
    plot_->setSchedule(rows.get());
    schedule_ = std::move(rows);
    showReadout(plot_->hoveredSample());
}

const ui::PreviewView& RecordingPreview::view() const noexcept {
    return plot_->view();
}

QImage RecordingPreview::renderImage(const QSize& size) const {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    plot_->paint(p, QRect(QPoint(0, 0), size));
    return image;
}

void RecordingPreview::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
        case Qt::Key_Up:
            plot_->zoom(2.0);
            break;
        case Qt::Key_Minus:
        case Qt::Key_Down:
            plot_->zoom(0.5);
            break;
        case Qt::Key_Left:
            plot_->pan(-0.2);
            break;
        case Qt::Key_Right:
            plot_->pan(0.2);
            break;
        case Qt::Key_PageUp:
            plot_->pan(-1.0);
            break;
        case Qt::Key_PageDown:
            plot_->pan(1.0);
            break;
        case Qt::Key_Home:
            plot_->resetView();
            break;
        case Qt::Key_BracketLeft:
        case Qt::Key_BracketRight:
            if (plot_->hoveredSample() < data_->size()) {
                ui::PreviewSelection s = plot_->selection();
                const double x = data_->x(plot_->hoveredSample());
                event->key() == Qt::Key_BracketLeft ? s.setStart(x) : s.setEnd(x);
                plot_->setSelection(s);
            }
            break;
        case Qt::Key_Delete:
            plot_->setSelection({});
            break;
        case Qt::Key_Escape:
            close();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void RecordingPreview::showSelection() {
    // Export Selection... is there to be found, but greyed out while nothing can be exported,
    // and the line beside it says why.
    const bool can = loaded_ && plot_->selection().active();
    selectionText_->setText(QString::fromStdString(ui::selectionLine(plot_->selection(), loaded_)));
    exportSelection_->setEnabled(can);
    exportSelection_->setToolTip(can ? tr("Export the rows of the selection")
                                     : tr("Select a stretch of the loaded recording first"));
}

void RecordingPreview::showReadout(std::size_t sample) {
    readout_->setText(QString::fromStdString(ui::readoutLine(*data_, *schedule_, sample, loaded_)));
}

}  // namespace zk::ui_qt

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

#include "zk/engine/recording/conversions.hpp"
#include "zk/ui/main_window.hpp"

namespace zk::ui_qt {

const QColor PreviewPlot::kTraceColour(31, 95, 168);
const QColor PreviewPlot::kTagColour(214, 69, 65);
const QColor PreviewPlot::kRowColour(22, 150, 100);

namespace {

const QColor kGrid(232, 234, 238);
const QColor kFrame(160, 166, 176);
const QColor kText(60, 64, 72);
const QColor kHover(120, 126, 136);

// From this many pixels per sample on (no more than two samples to a pixel column) the trace is
// a line through the samples themselves; with more samples, the min/max of each pixel column.
// Zoomed in further, columns without a sample of their own would break the min/max trace up
// into dots.
constexpr double kSampleLineMinPixels = 0.5;
// Rows are marked when at least this many pixels lie between two of them.
constexpr double kRowMarkMinPixels = 8.0;
// Fewer pixels than this between tags, on average, and they are drawn as short marks.
constexpr int kDenseTagPixels = 6;
// Two samples further apart than this are not joined: the recording paused between them.
constexpr double kPauseMs = 100.0;

double resistance(std::uint16_t raw) {
    return static_cast<double>(Calc_Resistance(raw));
}

// Maps positions (ms) and resistances (kOhm) onto the plot area.
struct Mapping {
    QRectF area;
    double x0, x1, y0, y1;

    double px(double x) const { return area.left() + (x - x0) / (x1 - x0) * area.width(); }
    double py(double y) const { return area.bottom() - (y - y0) / (y1 - y0) * area.height(); }
};

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

QRect PreviewPlot::plotArea(const QRect& area) const {
    const QFontMetrics fm(font());
    // Room on the left for the value labels and the axis title, at the top for tag numbers,
    // at the bottom for the time labels and the axis title.
    const int left = fm.horizontalAdvance("0000000") + fm.height() + 14;
    const int top = 2 * (fm.height() + 3) + 6;  // two rows of tag numbers
    const int bottom = 2 * fm.height() + 14;
    return area.adjusted(left, top, -14, -bottom);
}

void PreviewPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint(p, rect());
}

void PreviewPlot::paint(QPainter& p, const QRect& area) const {
    p.save();
    p.setFont(font());
    p.fillRect(area, QColor(250, 250, 251));
    const QRect plot = plotArea(area);
    p.fillRect(plot, Qt::white);
    const QFontMetrics fm(font());

    if (!data_ || data_->empty() || plot.width() < 2 || plot.height() < 2) {
        p.setPen(kText);
        p.drawText(area, Qt::AlignCenter,
                   data_ ? tr("The recording holds no samples.") : QString());
        p.restore();
        return;
    }
    const ui::PreviewData& data = *data_;
    const double x0 = view_.begin(), x1 = view_.end();
    const std::size_t first = data.firstAtOrAfter(x0);
    const std::size_t last = data.firstAtOrAfter(std::nextafter(x1, HUGE_VAL));  // x1 included

    // The value axis fits what is in view, with a little room above and below.
    double y0 = 0.0, y1 = 1.0;
    if (const ui::SampleRange r = data.range(first, last); !r.empty()) {
        y0 = resistance(r.min);
        y1 = resistance(r.max);
        const double pad = std::max((y1 - y0) * 0.06, std::max(std::abs(y1) * 0.002, 0.01));
        y0 -= pad;
        y1 += pad;
    }
    const Mapping m{QRectF(plot), x0, x1, y0, y1};

    // Grid and labels.
    p.setPen(kGrid);
    const auto vticks = ui::valueTicks(y0, y1, std::max(2, plot.height() / 42));
    const auto tticks = ui::timeTicks(x0, x1, std::max(2, plot.width() / 95));
    for (const auto& t : vticks) {
        const double y = std::round(m.py(t.value)) + 0.5;
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    for (const auto& t : tticks) {
        const double x = std::round(m.px(t.value)) + 0.5;
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    p.setPen(kText);
    for (const auto& t : vticks) {
        const int y = static_cast<int>(std::round(m.py(t.value)));
        p.drawText(
            QRect(area.left(), y - fm.height() / 2, plot.left() - area.left() - 6, fm.height()),
            Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(t.label));
    }
    for (const auto& t : tticks) {
        const int x = static_cast<int>(std::round(m.px(t.value)));
        p.drawText(QRect(x - 60, plot.bottom() + 5, 120, fm.height()), Qt::AlignHCenter,
                   QString::fromStdString(t.label));
    }
    const QString timeTitle = data.timeAxis() == ui::PreviewData::TimeAxis::TimeStamps
                                  ? tr("Recording time (h:mm:ss)")
                                  : tr("Recording time at 20 ms per sample (h:mm:ss)");
    p.drawText(QRect(plot.left(), area.bottom() - fm.height() - 3, plot.width(), fm.height()),
               Qt::AlignHCenter, timeTitle);
    p.save();
    p.translate(area.left() + 4, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-plot.height() / 2, 0, plot.height(), fm.height()), Qt::AlignHCenter,
               tr("Resistance (kΩ)"));
    p.restore();

    p.setClipRect(plot);

    // The trace.
    const double perSample = plot.width() / std::max(1.0, static_cast<double>(last - first));
    if (perSample >= kSampleLineMinPixels) {
        // Few samples in view: a line through each, from the one before the view to the one
        // after it, broken where the recording paused.
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(kTraceColour, 1.6));
        const std::size_t a = first > 0 ? first - 1 : 0;
        const std::size_t b = std::min(last + 1, data.size());
        QPainterPath path;
        for (std::size_t i = a; i < b; ++i) {
            const QPointF pt(m.px(data.x(i)), m.py(resistance(data.raw(i))));
            if (i == a || data.x(i) - data.x(i - 1) > kPauseMs) {
                path.moveTo(pt);
            } else {
                path.lineTo(pt);
            }
        }
        p.drawPath(path);
        p.setRenderHint(QPainter::Antialiasing, false);
    } else {
        // Many samples per pixel column: the column's min to max, widened to meet the column
        // before so the trace stays joined.
        const auto cols = data.columns(x0, x1, plot.width());
        p.setPen(QPen(kTraceColour, 1));
        double prevLo = 0.0, prevHi = 0.0;
        bool prev = false;
        for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
            const ui::SampleRange& r = cols[static_cast<std::size_t>(c)];
            if (r.empty()) {
                prev = false;
                continue;
            }
            double lo = m.py(resistance(r.min)), hi = m.py(resistance(r.max));  // lo below hi
            if (prev) {
                lo = std::max(lo, prevHi);
                hi = std::min(hi, prevLo);
            }
            const double x = plot.left() + c + 0.5;
            p.drawLine(QPointF(x, std::round(lo) + 0.5), QPointF(x, std::round(hi) + 0.5));
            prevLo = m.py(resistance(r.min));
            prevHi = m.py(resistance(r.max));
            prev = true;
        }
    }

    // The CSV rows, when there is room between them: a dot on the trace at each sample that
    // makes a row (its value is the row's), and a tick at the bottom.
    if (schedule_) {
        const std::size_t rows = schedule_->rowsBefore(last) - schedule_->rowsBefore(first);
        if (rows > 0 && plot.width() / static_cast<double>(rows) >= kRowMarkMinPixels) {
            p.setRenderHint(QPainter::Antialiasing, true);
            const double radius =
                std::clamp(plot.width() / static_cast<double>(rows) / 5, 2.0, 3.5);
            for (const std::size_t i : schedule_->dueIn(first, last, rows)) {
                const QPointF pt(m.px(data.x(i)), m.py(resistance(data.raw(i))));
                p.setPen(QPen(Qt::white, 1.2));
                p.setBrush(kRowColour);
                p.drawEllipse(pt, radius, radius);
                p.setPen(QPen(kRowColour, 1.5));
                p.drawLine(QPointF(pt.x(), plot.bottom() - 5), QPointF(pt.x(), plot.bottom()));
            }
            p.setBrush(Qt::NoBrush);
            p.setRenderHint(QPainter::Antialiasing, false);
        }
    }

    // The tags: a dashed line at each and its number above the plot, in the lower of two rows
    // where there is room, else in the upper one; a number with room in neither is left out
    // (its line stays).
    const auto& tags = data.tags();
    auto tag =
        std::lower_bound(tags.begin(), tags.end(), first,
                         [](const ui::PreviewTag& t, std::size_t s) { return t.sample < s; });
    QPen tagPen(kTagColour, 1, Qt::DashLine);
    int rowRight[2] = {INT_MIN, INT_MIN};
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics bfm(bold);
    // Tags closer together than a few pixels (a day's recording at full view) would hide the
    // trace behind their lines: then each gets a short mark along the top edge instead, without
    // its number.
    const auto tagsEnd = std::lower_bound(
        tag, tags.end(), last, [](const ui::PreviewTag& t, std::size_t s) { return t.sample < s; });
    const bool dense = (tagsEnd - tag) * kDenseTagPixels > plot.width();
    for (; tag != tagsEnd; ++tag) {
        const double x = std::round(m.px(data.x(tag->sample))) + 0.5;
        p.setClipRect(plot);
        p.setPen(dense ? QPen(kTagColour, 1) : tagPen);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, dense ? plot.top() + 7 : plot.bottom()));
        const QString text = QString::number(tag->number);
        const int w = bfm.horizontalAdvance(text) + 8;
        const int row = dense                                           ? -1
                        : static_cast<int>(x) - w / 2 > rowRight[0] + 2 ? 0
                        : static_cast<int>(x) - w / 2 > rowRight[1] + 2 ? 1
                                                                        : -1;
        if (row >= 0) {
            const QRect box(static_cast<int>(x) - w / 2,
                            plot.top() - (row + 1) * (bfm.height() + 3) - 1, w, bfm.height() + 2);
            p.setClipRect(area);
            if (row == 1) {
                p.setPen(kTagColour);
                p.drawLine(QPointF(x, box.bottom()), QPointF(x, plot.top()));
            }
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(Qt::NoPen);
            p.setBrush(kTagColour);
            p.drawRoundedRect(box, 3, 3);
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setBrush(Qt::NoBrush);
            p.setPen(Qt::white);
            p.setFont(bold);
            p.drawText(box, Qt::AlignCenter, text);
            p.setFont(font());
            rowRight[row] = box.right();
        }
    }
    p.setClipRect(plot);

    // The selection, a band behind the sample under the mouse.
    if (selection_.active()) {
        const double left = std::max(m.px(selection_.from()), double(plot.left()));
        const double right = std::min(m.px(selection_.to()), double(plot.right()));
        if (right >= left) {
            p.fillRect(QRectF(left, plot.top(), std::max(right - left, 1.0), plot.height()),
                       QColor(60, 120, 220, 48));
        }
    }

    // The sample under the mouse.
    if (hovered_ < data.size() && hovered_ >= first && hovered_ < last) {
        const QPointF pt(m.px(data.x(hovered_)), m.py(resistance(data.raw(hovered_))));
        p.setPen(QPen(kHover, 1, Qt::DotLine));
        p.drawLine(QPointF(std::round(pt.x()) + 0.5, plot.top()),
                   QPointF(std::round(pt.x()) + 0.5, plot.bottom()));
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(kTraceColour, 2));
        p.setBrush(Qt::white);
        p.drawEllipse(pt, 4, 4);
    }

    p.setClipping(false);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(kFrame);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.restore();
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
    const std::string text = plot_->selection().describe();
    const bool can = loaded_ && plot_->selection().active();
    selectionText_->setText(
        !loaded_       ? tr("No recording is loaded: nothing to show or export.")
        : text.empty() ? tr("No selection: right-drag, shift-drag, or [ and ], to select rows "
                            "to export.")
                       : QString::fromStdString(text));
    exportSelection_->setEnabled(can);
    exportSelection_->setToolTip(can ? tr("Export the rows of the selection")
                                     : tr("Select a stretch of the loaded recording first"));
}

void RecordingPreview::showReadout(std::size_t sample) {
    const ui::PreviewData& data = *data_;
    if (sample >= data.size()) {
        if (data.empty()) {
            readout_->setText(loaded_ ? QString()
                                      : tr("Load a recording in the main window to see it here."));
            return;
        }
        // Counts with digit groups, as the main window writes them: the counts of a long
        // recording stay readable.
        const auto count = [](std::size_t n) { return QString::fromStdString(ui::formatCount(n)); };
        readout_->setText(
            tr("%1 samples over %2, %3 tags   CSV rows at %4: %5   Point at the trace for its "
               "values")
                .arg(count(data.size()))
                .arg(QString::fromStdString(ui::formatClock(
                    static_cast<std::int64_t>(data.lastX() - data.firstX()), false)))
                .arg(count(data.tags().size()))
                .arg(QString::fromStdString(ui::rateCaption(schedule_->updatePeriod())))
                .arg(count(schedule_->rowCount())));
        return;
    }
    const ui::SampleReadout r = ui::readoutOf(data, *schedule_, sample);
    const auto trimmed = [](const std::string& s) { return QString::fromStdString(s).trimmed(); };
    QString text = tr("%1 (TimeMs %2)   Data %3   Baseline %4   Resistance %5 kΩ")
                       .arg(QString::fromStdString(r.clock), trimmed(r.timeMs), trimmed(r.raw),
                            QString::fromStdString(r.baseline), trimmed(r.resistance));
    text += r.row.empty() ? tr("   before the first CSV row")
                          : tr("   CSV row %1 of %2, at %3 ms")
                                .arg(QString::fromStdString(r.row))
                                .arg(QString::fromStdString(ui::formatCount(schedule_->rowCount())))
                                .arg(trimmed(r.rowTime));
    if (!r.tag.empty()) {
        text += tr("   Tag %1").arg(trimmed(r.tag));
    }
    readout_->setText(text);
}

}  // namespace zk::ui_qt

#pragma once

#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QPushButton>
#include <QWidget>
#include <cstddef>
#include <memory>

#include "zk/ui/preview_data.hpp"
#include "zk/ui/preview_plot.hpp"
#include "zk/ui/preview_view.hpp"

namespace zk::ui_qt {

/// picPlot: the plot of the preview, resistance in kilo-ohms against recording time, drawn
/// with QPainter from the min/max of each pixel column. Wheel zooms around the cursor, a drag
/// pans, a double-click shows the whole recording; keys are left to the window.
class PreviewPlot : public QWidget {
    Q_OBJECT
  public:
    /// Colours of the plot, for the tests that look at its pixels.
    static const QColor kTraceColour;
    static const QColor kTagColour;
    static const QColor kRowColour;

    explicit PreviewPlot(QWidget* parent = nullptr);

    /// Shows `data` with the rows of `schedule` (both owned by the caller, and kept alive while
    /// shown; nullptr shows nothing), from the whole recording.
    void setData(const ui::PreviewData* data, const ui::RowSchedule* schedule);

    /// Shows the rows of another schedule for the same data, keeping the view.
    void setSchedule(const ui::RowSchedule* schedule);

    const ui::PreviewView& view() const noexcept { return view_; }
    /// Changes the view; the plot is repainted and viewChanged() sent.
    void zoom(double factor, double anchor = 0.5);
    void pan(double fraction);
    void resetView();

    /// Draws the plot into `area` of `painter` as it would appear in a widget of that size.
    void paint(QPainter& painter, const QRect& area) const;

    /// The sample under the mouse, or SIZE_MAX.
    std::size_t hoveredSample() const noexcept { return hovered_; }

    /// The stretch selected with a right-drag or a shift-drag, or by the window's [ and ].
    const ui::PreviewSelection& selection() const noexcept { return selection_; }
    /// Changes the selection; the plot is repainted and selectionChanged() sent.
    void setSelection(const ui::PreviewSelection& selection);

  signals:
    /// The sample under the mouse changed (SIZE_MAX when there is none).
    void hoveredChanged(std::size_t sample);
    void viewChanged();
    void selectionChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    QSize sizeHint() const override { return {900, 420}; }

  private:
    ui::PlotFont plotFont() const;
    QRect plotArea(const QRect& area) const;
    // The pieces of paint(), in the order they are drawn.
    void drawAxes(QPainter& p, const ui::PlotScene& scene) const;
    void drawTrace(QPainter& p, const ui::PlotTrace& trace) const;
    void drawRows(QPainter& p, const ui::PlotScene& scene) const;
    void drawTags(QPainter& p, const ui::PlotScene& scene) const;
    void drawSelectionAndHover(QPainter& p, const ui::PlotScene& scene) const;
    void setHovered(std::size_t sample);
    double timeAt(double px) const;

    const ui::PreviewData* data_ = nullptr;
    const ui::RowSchedule* schedule_ = nullptr;
    ui::PreviewView view_;
    std::size_t hovered_ = SIZE_MAX;
    bool dragging_ = false;
    QPoint dragFrom_;
    double dragBegin_ = 0.0;
    bool selecting_ = false;
    ui::PreviewSelection selection_;
};

/// frmPreview: a resizable window with the plot of one recording (picPlot), a readout of the
/// sample under the mouse (lblReadout: time, raw value, baseline, resistance, the CSV row it
/// belongs to and its tag, by the export's own conversions) and a line on how to move about
/// (lblHelp). Keys: + and - (or Up and Down) zoom, Left and Right pan, Home shows the whole
/// recording, Escape closes the window; [ and ] set the selection's start and end at the
/// readout's sample (a right-drag or a shift-drag selects too), Delete clears it. The
/// selection is shown in lblSelection and cmdExportSelection asks for its export.
///
/// The window only draws: the main window's logic reads the recording and makes the schedule
/// of the rows (ui::MainWindow::mnuViewPreview_Click), and the window shares them.
class RecordingPreview : public QWidget {
    Q_OBJECT
  public:
    explicit RecordingPreview(QWidget* parent = nullptr);
    ~RecordingPreview() override;

    /// Shows `data` of the recording `name` with `rows`, from the whole recording.
    void show(std::shared_ptr<const ui::PreviewData> data,
              std::shared_ptr<const ui::RowSchedule> rows, const QString& name);

    /// Shows the rows of another schedule for the same data, keeping the view.
    void setRows(std::shared_ptr<const ui::RowSchedule> rows);

    /// Shows no recording: no trace, no selection, Export Selection disabled, until show().
    void showEmpty();

    const ui::PreviewData& data() const noexcept { return *data_; }
    const ui::RowSchedule& schedule() const noexcept { return *schedule_; }
    const ui::PreviewView& view() const noexcept;
    PreviewPlot* plot() const noexcept { return plot_; }

    /// The plot drawn into an image of `size`, with the current view.
    QImage renderImage(const QSize& size) const;

  signals:
    /// "Export Selection...": the selection as [fromMs, toMs), made in `shown`.
    void exportSelectionRequested(const zk::ui::PreviewData* shown, std::int32_t fromMs,
                                  std::int32_t toMs);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void showReadout(std::size_t sample);
    void showSelection();

    std::shared_ptr<const ui::PreviewData> data_;
    std::shared_ptr<const ui::RowSchedule> schedule_;
    bool loaded_ = false;  // shows a recording: show() until showEmpty()
    PreviewPlot* plot_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* selectionText_ = nullptr;
    QPushButton* exportSelection_ = nullptr;
};

}  // namespace zk::ui_qt

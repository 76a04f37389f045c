#include "zk/ui/preview_plot.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/time_text.hpp"
#include "zk/ui/main_window.hpp"

namespace zk::ui {

namespace {

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

// The stretch [first, last) of samples in view, x1 included.
struct InView {
    std::size_t first = 0, last = 0;
};

// The value axis fits what is in view, with a little room above and below.
void fitValues(const PreviewData& data, InView in, PlotMapping& m) {
    m.y0 = 0.0;
    m.y1 = 1.0;
    if (const SampleRange r = data.range(in.first, in.last); !r.empty()) {
        m.y0 = plotResistance(r.min);
        m.y1 = plotResistance(r.max);
        const double pad = std::max((m.y1 - m.y0) * 0.06, std::max(std::abs(m.y1) * 0.002, 0.01));
        m.y0 -= pad;
        m.y1 += pad;
    }
}

PlotAxes axesOf(const PreviewData& data, const PixelBox& area, const PlotMapping& m,
                const PlotFont& font) {
    const PixelBox& plot = m.plot;
    const int fh = font.lineHeight;
    PlotAxes axes;
    const auto vticks = valueTicks(m.y0, m.y1, std::max(2, plot.height / 42));
    const auto tticks = timeTicks(m.x0, m.x1, std::max(2, plot.width / 95));
    for (const auto& t : vticks) {
        axes.gridYs.push_back(std::round(m.py(t.value)) + 0.5);
        const int y = static_cast<int>(std::round(m.py(t.value)));
        axes.labels.push_back({{area.left, y - fh / 2, plot.left - area.left - 6, fh},
                               t.label,
                               PlotText::Align::RightMiddle});
    }
    for (const auto& t : tticks) {
        axes.gridXs.push_back(std::round(m.px(t.value)) + 0.5);
        const int x = static_cast<int>(std::round(m.px(t.value)));
        axes.labels.push_back(
            {{x - 60, plot.bottom() + 5, 120, fh}, t.label, PlotText::Align::CentreTop});
    }
    axes.timeTitle = {{plot.left, area.bottom() - fh - 3, plot.width, fh},
                      data.timeAxis() == PreviewData::TimeAxis::TimeStamps
                          ? "Recording time (h:mm:ss)"
                          : "Recording time at 20 ms per sample (h:mm:ss)",
                      PlotText::Align::CentreTop};
    axes.valueTitle = {
        {-plot.height / 2, 0, plot.height, fh}, "Resistance (k\u03a9)", PlotText::Align::CentreTop};
    axes.valueTitleAt = {static_cast<double>(area.left + 4), static_cast<double>(plot.middle())};
    return axes;
}

PlotPoint sampleAt(const PreviewData& data, const PlotMapping& m, std::size_t i) {
    return {m.px(data.x(i)), m.py(plotResistance(data.raw(i)))};
}

// Few samples in view: a line through each, from the one before the view to the one after it,
// broken where the recording paused.
void traceThroughSamples(const PreviewData& data, InView in, const PlotMapping& m,
                         PlotTrace& trace) {
    trace.throughSamples = true;
    const std::size_t a = in.first > 0 ? in.first - 1 : 0;
    const std::size_t b = std::min(in.last + 1, data.size());
    for (std::size_t i = a; i < b; ++i) {
        trace.points.push_back(sampleAt(data, m, i));
        trace.starts.push_back(i == a || data.x(i) - data.x(i - 1) > kPauseMs);
    }
}

// Many samples per pixel column: the column's min to max, widened to meet the column before so
// the trace stays joined.
void traceByColumns(const PreviewData& data, const PlotMapping& m, PlotTrace& trace) {
    const auto cols = data.columns(m.x0, m.x1, m.plot.width);
    double prevLo = 0.0, prevHi = 0.0;
    bool prev = false;
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        const SampleRange& r = cols[static_cast<std::size_t>(c)];
        if (r.empty()) {
            prev = false;
            continue;
        }
        double lo = m.py(plotResistance(r.min)), hi = m.py(plotResistance(r.max));  // lo below
        if (prev) {
            lo = std::max(lo, prevHi);
            hi = std::min(hi, prevLo);
        }
        trace.bars.push_back({m.plot.left + c + 0.5, std::round(lo) + 0.5, std::round(hi) + 0.5});
        prevLo = m.py(plotResistance(r.min));
        prevHi = m.py(plotResistance(r.max));
        prev = true;
    }
}

PlotTrace traceOf(const PreviewData& data, InView in, const PlotMapping& m) {
    PlotTrace trace;
    const double perSample = m.plot.width / std::max(1.0, static_cast<double>(in.last - in.first));
    if (perSample >= kSampleLineMinPixels) {
        traceThroughSamples(data, in, m, trace);
    } else {
        traceByColumns(data, m, trace);
    }
    return trace;
}

// The CSV rows, when there is room between them; a row's value is its due sample's.
PlotRows rowsOf(const PreviewData& data, const RowSchedule* schedule, InView in,
                const PlotMapping& m) {
    PlotRows rows;
    if (schedule == nullptr) {
        return rows;
    }
    const std::size_t count = schedule->rowsBefore(in.last) - schedule->rowsBefore(in.first);
    const double width = m.plot.width;
    if (count == 0 || width / static_cast<double>(count) < kRowMarkMinPixels) {
        return rows;
    }
    rows.radius = std::clamp(width / static_cast<double>(count) / 5, 2.0, 3.5);
    for (const std::size_t i : schedule->dueIn(in.first, in.last, count)) {
        rows.dots.push_back(sampleAt(data, m, i));
    }
    return rows;
}

// The tags in view. Tags closer together than a few pixels (a day's recording at full view)
// would hide the trace behind their lines: then each gets a short mark along the top edge
// instead, without its number.
std::vector<PlotTag> tagsOf(const PreviewData& data, InView in, const PlotMapping& m,
                            const PlotFont& font, bool& dense) {
    const auto& tags = data.tags();
    const auto before = [](const PreviewTag& t, std::size_t s) { return t.sample < s; };
    auto tag = std::lower_bound(tags.begin(), tags.end(), in.first, before);
    const auto tagsEnd = std::lower_bound(tag, tags.end(), in.last, before);
    const PixelBox& plot = m.plot;
    dense = (tagsEnd - tag) * kDenseTagPixels > plot.width;
    int rowRight[2] = {INT_MIN, INT_MIN};
    std::vector<PlotTag> out;
    for (; tag != tagsEnd; ++tag) {
        PlotTag t;
        t.x = std::round(m.px(data.x(tag->sample))) + 0.5;
        t.lineTo = dense ? plot.top + 7 : plot.bottom();
        const std::string text = std::to_string(tag->number);
        const int w = font.boldWidth(text) + 8;
        const int left = static_cast<int>(t.x) - w / 2;
        t.row = dense ? -1 : left > rowRight[0] + 2 ? 0 : left > rowRight[1] + 2 ? 1 : -1;
        if (t.row >= 0) {
            t.label = {
                {left, plot.top - (t.row + 1) * (font.boldHeight + 3) - 1, w, font.boldHeight + 2},
                text,
                PlotText::Align::Centre};
            rowRight[t.row] = t.label.box.right();
        }
        out.push_back(std::move(t));
    }
    return out;
}

std::optional<PlotScene::Band> selectionOf(const PreviewSelection& selection,
                                           const PlotMapping& m) {
    if (!selection.active()) {
        return std::nullopt;
    }
    const double left = std::max(m.px(selection.from()), double(m.plot.left));
    const double right = std::min(m.px(selection.to()), double(m.plot.right()));
    if (right < left) {
        return std::nullopt;
    }
    return PlotScene::Band{left, std::max(right - left, 1.0)};
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : s.substr(first, s.find_last_not_of(' ') + 1 - first);
}

}  // namespace

PixelBox plotBox(const PixelBox& area, const PlotFont& font) {
    const int left = font.valueLabelRoom + font.lineHeight + 14;
    const int top = 2 * (font.lineHeight + 3) + 6;  // two rows of tag numbers
    const int bottom = 2 * font.lineHeight + 14;
    return {area.left + left, area.top + top, area.width - left - 14, area.height - top - bottom};
}

double plotResistance(std::uint16_t raw) {
    return static_cast<double>(Calc_Resistance(raw));
}

PlotScene layoutPlot(const PixelBox& area, const PlotFont& font, const PreviewData* data,
                     const RowSchedule* schedule, const PreviewView& view,
                     const PreviewSelection& selection, std::size_t hovered) {
    PlotScene scene;
    scene.area = area;
    scene.plot = plotBox(area, font);
    if (data == nullptr || data->empty() || scene.plot.width < 2 || scene.plot.height < 2) {
        scene.message = data ? "The recording holds no samples." : "";
        return scene;
    }
    PlotMapping& m = scene.mapping;
    m.plot = scene.plot;
    m.x0 = view.begin();
    m.x1 = view.end();
    const InView in{data->firstAtOrAfter(m.x0),
                    data->firstAtOrAfter(std::nextafter(m.x1, HUGE_VAL))};
    fitValues(*data, in, m);
    scene.axes = axesOf(*data, area, m, font);
    scene.trace = traceOf(*data, in, m);
    scene.rows = rowsOf(*data, schedule, in, m);
    scene.tags = tagsOf(*data, in, m, font, scene.denseTags);
    scene.selection = selectionOf(selection, m);
    if (hovered < data->size() && hovered >= in.first && hovered < in.last) {
        scene.hovered = sampleAt(*data, m, hovered);
    }
    return scene;
}

std::string readoutLine(const PreviewData& data, const RowSchedule& schedule, std::size_t sample,
                        bool loaded) {
    if (sample >= data.size()) {
        if (data.empty()) {
            return loaded ? "" : "Load a recording in the main window to see it here.";
        }
        // Counts with digit groups, as the main window writes them: the counts of a long
        // recording stay readable.
        return formatCount(data.size()) + " samples over " +
               formatClock(static_cast<std::int64_t>(data.lastX() - data.firstX()), false) + ", " +
               formatCount(data.tags().size()) + " tags   CSV rows at " +
               rateCaption(schedule.updatePeriod()) + ": " + formatCount(schedule.rowCount()) +
               "   Point at the trace for its values";
    }
    const SampleReadout r = readoutOf(data, schedule, sample);
    std::string text = r.clock + " (TimeMs " + trimmed(r.timeMs) + ")   Data " + trimmed(r.raw) +
                       "   Baseline " + r.baseline + "   Resistance " + trimmed(r.resistance) +
                       " k\u03a9";
    text += r.row.empty() ? "   before the first CSV row"
                          : "   CSV row " + r.row + " of " + formatCount(schedule.rowCount()) +
                                ", at " + trimmed(r.rowTime) + " ms";
    if (!r.tag.empty()) {
        text += "   Tag " + trimmed(r.tag);
    }
    return text;
}

std::string selectionLine(const PreviewSelection& selection, bool loaded) {
    if (!loaded) {
        return "No recording is loaded: nothing to show or export.";
    }
    const std::string text = selection.describe();
    return text.empty()
               ? "No selection: right-drag, shift-drag, or [ and ], to select rows to export."
               : text;
}

}  // namespace zk::ui

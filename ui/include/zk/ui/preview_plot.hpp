#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zk/ui/preview_data.hpp"
#include "zk/ui/preview_view.hpp"

namespace zk::ui {

/// A rectangle of whole pixels, counted as the toolkit counts them: right() and bottom() are
/// the last column and row inside it.
struct PixelBox {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int right() const noexcept { return left + width - 1; }
    int bottom() const noexcept { return top + height - 1; }
    int middle() const noexcept { return (top + bottom()) / 2; }
    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

/// The sizes of the plot's texts, measured by the toolkit.
struct PlotFont {
    /// The text whose width is the room the value labels get.
    static constexpr const char* kValueLabelRoom = "0000000";

    int lineHeight = 0;      ///< of the plain font
    int valueLabelRoom = 0;  ///< width of kValueLabelRoom in the plain font
    int boldHeight = 0;      ///< of the bold font of the tag numbers
    std::function<int(const std::string&)> boldWidth;  ///< a text's width in the bold font
};

/// The plot's area inside `area` (the widget): room on the left for the value labels and the
/// axis title, at the top for two rows of tag numbers, at the bottom for the time labels and
/// the axis title.
PixelBox plotBox(const PixelBox& area, const PlotFont& font);

/// The resistance in kOhm that the plot shows for a raw sample: the CSV's.
double plotResistance(std::uint16_t raw);

/// Maps positions (ms) and resistances (kOhm) onto the plot's pixels.
struct PlotMapping {
    PixelBox plot;
    double x0 = 0.0, x1 = 1.0, y0 = 0.0, y1 = 1.0;

    double px(double x) const noexcept { return plot.left + (x - x0) / (x1 - x0) * plot.width; }
    double py(double y) const noexcept {
        return (plot.top + plot.height) - (y - y0) / (y1 - y0) * plot.height;
    }
};

struct PlotPoint {
    double x = 0.0, y = 0.0;
    friend bool operator==(const PlotPoint&, const PlotPoint&) = default;
};

/// A text placed in a box: right-aligned and centred in height (value labels), centred along
/// the top (time labels, axis titles) or centred both ways (tag numbers).
struct PlotText {
    enum class Align { RightMiddle, CentreTop, Centre };
    PixelBox box;
    std::string text;
    Align align = Align::Centre;
};

/// The grid and the labels of both axes.
struct PlotAxes {
    std::vector<double> gridYs;    ///< horizontal grid lines across the plot, at pixel centres
    std::vector<double> gridXs;    ///< vertical grid lines
    std::vector<PlotText> labels;  ///< value and time labels
    PlotText timeTitle;
    /// The value axis's title, drawn turned a quarter left about (left, middle) of `at`.
    PlotText valueTitle;
    PlotPoint valueTitleAt;
};

/// The trace: either a line through the samples (`points`, a new line starting at each
/// `starts` entry) or, with more samples than pixel columns, one bar a column.
struct PlotTrace {
    struct Bar {
        double x = 0.0, from = 0.0, to = 0.0;
        friend bool operator==(const Bar&, const Bar&) = default;
    };
    bool throughSamples = false;
    std::vector<PlotPoint> points;
    std::vector<bool> starts;
    std::vector<Bar> bars;
};

/// The CSV rows in view, when there is room between them: a dot on the trace at each sample
/// that makes a row and a tick at the bottom of the plot.
struct PlotRows {
    double radius = 0.0;
    std::vector<PlotPoint> dots;
};

/// A tag in view: its dashed line (a short mark along the top edge where tags are dense), and
/// its number in a label above the plot, in the lower row where there is room, else in the
/// upper one; a number with room in neither is left out (its line stays).
struct PlotTag {
    double x = 0.0;
    double lineTo = 0.0;  ///< the line runs from the plot's top to here
    int row = -1;         ///< label row: 0 lower, 1 upper, -1 none
    PlotText label;       ///< in `row`, when there is one
};

/// Everything the preview's plot shows, placed in pixels: the toolkit only draws it.
struct PlotScene {
    PixelBox area;
    PixelBox plot;
    /// Without a plot (no data, no samples, no room), this text centred in `area`.
    std::optional<std::string> message;
    PlotMapping mapping;
    PlotAxes axes;
    PlotTrace trace;
    PlotRows rows;
    bool denseTags = false;  ///< tags drawn as short marks without numbers
    std::vector<PlotTag> tags;
    /// The selection's band across the plot's height: its left edge and width.
    struct Band {
        double left = 0.0, width = 0.0;
        friend bool operator==(const Band&, const Band&) = default;
    };
    std::optional<Band> selection;
    std::optional<PlotPoint> hovered;  ///< the sample under the mouse
};

/// Places what the plot of `data` (nullptr: none) shows in `area`: the view's stretch, the
/// rows of `schedule` (may be nullptr), the selection and the hovered sample (SIZE_MAX: none).
PlotScene layoutPlot(const PixelBox& area, const PlotFont& font, const PreviewData* data,
                     const RowSchedule* schedule, const PreviewView& view,
                     const PreviewSelection& selection, std::size_t hovered);

/// The line under the plot: the sample's readout (readoutOf()), or with none the recording's
/// counts, or an invitation to load one.
std::string readoutLine(const PreviewData& data, const RowSchedule& schedule, std::size_t sample,
                        bool loaded);

/// The line beside Export Selection...: the selection, or why there is nothing to export.
std::string selectionLine(const PreviewSelection& selection, bool loaded);

}  // namespace zk::ui

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zk::ui {

/// The stretch of the time axis that the preview shows, with its zoom and pan. Positions are
/// in ms; the view never leaves the recording's extent and never gets narrower than the
/// smallest span.
class PreviewView {
  public:
    /// The narrowest view: five samples' worth.
    static constexpr double kMinSpan = 100.0;

    PreviewView() = default;
    /// Shows the whole extent [begin, end]; an extent narrower than kMinSpan is widened to it.
    PreviewView(double begin, double end);

    double begin() const noexcept { return begin_; }
    double end() const noexcept { return end_; }
    double span() const noexcept { return end_ - begin_; }
    double extentBegin() const noexcept { return extentBegin_; }
    double extentEnd() const noexcept { return extentEnd_; }
    bool zoomed() const noexcept { return begin_ > extentBegin_ || end_ < extentEnd_; }

    /// Zooms by `factor` (above 1 zooms in) keeping the point at `anchor` (a fraction of the
    /// view's width, 0 = left edge) where it is, as far as the extent allows.
    void zoom(double factor, double anchor = 0.5);
    /// Moves the view by `fraction` of its width (negative: towards the start), stopping at
    /// the ends of the extent.
    void pan(double fraction);
    /// Moves the view by `ms`, stopping at the ends of the extent.
    void panBy(double ms);
    /// Shows the whole extent again.
    void reset();

  private:
    void clamp();

    double extentBegin_ = 0.0;
    double extentEnd_ = kMinSpan;
    double begin_ = 0.0;
    double end_ = kMinSpan;
};

/// A stretch of the time axis chosen in the preview, in ms: by a drag (its start where the drag
/// began, its end where the mouse is) or by the keys [ and ] at the readout's sample. The two
/// ends may be set in either order; from() is always the earlier.
class PreviewSelection {
  public:
    void setStart(double ms) { start_ = ms; }
    void setEnd(double ms) { end_ = ms; }
    void clear() { start_.reset(), end_.reset(); }

    /// True when both ends are set and apart.
    bool active() const noexcept { return start_ && end_ && *start_ != *end_; }
    double from() const noexcept;
    double to() const noexcept;
    double length() const noexcept { return active() ? to() - from() : 0.0; }

    /// What the preview shows while the selection is made: "Selection " and the
    /// selectionText() of rangeMs(), "Selection from 0:00:01.000: ] sets its end" with only a
    /// start, "Selection to ..." with only an end (each end in whole ms, as rangeMs() takes
    /// it); empty with neither.
    std::string describe() const;

    /// The selection as the export takes a range: [from, to) in whole ms, taking in every
    /// sample whose position lies within it (from rounded down, to rounded up and past the
    /// last sample's ms). Nothing unless active().
    std::optional<std::pair<std::int32_t, std::int32_t>> rangeMs() const;

  private:
    std::optional<double> start_;
    std::optional<double> end_;
};

/// A selection's rows as the window names them everywhere (the preview, the status line, the
/// messages): the range [fromMs, toMs) of whole ms by its first and last ms and its length,
/// "0:00:01.000 to 0:00:04.500 (3.500 s)" for [1000, 4501).
std::string selectionText(std::int32_t fromMs, std::int32_t toMs);

/// A labelled mark on an axis.
struct AxisTick {
    double value = 0.0;
    std::string label;
};

/// Time-axis marks for [begin, end] ms: a round step (20 ms up to 24 h) that gives at most
/// `maxTicks` marks, each labelled h:mm:ss, or h:mm:ss.mmm when the step is below a second.
std::vector<AxisTick> timeTicks(double begin, double end, int maxTicks);

/// Value-axis marks for [low, high]: a step of 1, 2 or 5 × 10^k that gives at most `maxTicks`
/// marks, labelled with just the digits the step needs ("250", "2.5", "0.05"), always with
/// "." for the point. A zero-width range gets one mark.
std::vector<AxisTick> valueTicks(double low, double high, int maxTicks);

}  // namespace zk::ui

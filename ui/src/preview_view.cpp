#include "zk/ui/preview_view.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>

#include "zk/engine/recording/time_text.hpp"
#include "zk/ui/preview_data.hpp"

namespace zk::ui {

PreviewView::PreviewView(double begin, double end) {
    if (end - begin < kMinSpan) {
        end = begin + kMinSpan;
    }
    extentBegin_ = begin_ = begin;
    extentEnd_ = end_ = end;
}

void PreviewView::zoom(double factor, double anchor) {
    if (!(factor > 0.0)) {
        return;
    }
    const double extent = extentEnd_ - extentBegin_;
    const double span = std::clamp(this->span() / factor, kMinSpan, extent);
    const double at = begin_ + anchor * this->span();
    begin_ = at - anchor * span;
    end_ = begin_ + span;
    clamp();
}

void PreviewView::pan(double fraction) {
    panBy(fraction * span());
}

void PreviewView::panBy(double ms) {
    begin_ += ms;
    end_ += ms;
    clamp();
}

void PreviewView::reset() {
    begin_ = extentBegin_;
    end_ = extentEnd_;
}

void PreviewView::clamp() {
    const double span = end_ - begin_;
    if (begin_ < extentBegin_) {
        begin_ = extentBegin_;
    }
    if (begin_ + span > extentEnd_) {
        begin_ = extentEnd_ - span;
    }
    end_ = begin_ + span;
}

std::vector<AxisTick> timeTicks(double begin, double end, int maxTicks) {
    static constexpr std::array<double, 23> kSteps = {
        20,        50,        100,       200,        500,        1'000,      2'000,     5'000,
        10'000,    15'000,    30'000,    60'000,     120'000,    300'000,    600'000,   900'000,
        1'800'000, 3'600'000, 7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000};
    std::vector<AxisTick> ticks;
    if (!(end > begin) || maxTicks < 1) {
        return ticks;
    }
    double step = kSteps.back();
    for (const double s : kSteps) {
        if (std::floor(end / s) - std::ceil(begin / s) < maxTicks) {
            step = s;
            break;
        }
    }
    for (double t = std::ceil(begin / step) * step; t <= end; t += step) {
        ticks.push_back({t, formatClock(std::llround(t), step < 1000)});
    }
    return ticks;
}

std::vector<AxisTick> valueTicks(double low, double high, int maxTicks) {
    std::vector<AxisTick> ticks;
    if (high < low || maxTicks < 1) {
        return ticks;
    }
    // decimals < 0: the shortest text that reads back as v.
    const auto label = [](double v, int decimals) {
        std::array<char, 64> buf{};
        const auto res = decimals < 0 ? std::to_chars(buf.data(), buf.data() + buf.size(), v)
                                      : std::to_chars(buf.data(), buf.data() + buf.size(), v,
                                                      std::chars_format::fixed, decimals);
        return std::string(buf.data(), res.ptr);
    };
    if (high == low) {
        ticks.push_back({low, label(low, -1)});
        return ticks;
    }
    // The smallest 1, 2 or 5 × 10^k that fits the range in maxTicks marks.
    const double rough = (high - low) / maxTicks;
    int exponent = static_cast<int>(std::floor(std::log10(rough)));
    double step = 0.0;
    for (;; ++exponent) {
        const double unit = std::pow(10.0, exponent);
        for (const double m : {1.0, 2.0, 5.0}) {
            if (m * unit >= rough &&
                std::floor(high / (m * unit)) - std::ceil(low / (m * unit)) < maxTicks) {
                step = m * unit;
                break;
            }
        }
        if (step > 0.0) {
            break;
        }
    }
    const int decimals = exponent < 0 ? -exponent : 0;
    for (double k = std::ceil(low / step); k * step <= high; k += 1.0) {
        const double v = k == 0.0 ? 0.0 : k * step;  // never "-0"
        ticks.push_back({v, label(v, decimals)});
    }
    return ticks;
}

double PreviewSelection::from() const noexcept {
    return start_ && end_ ? std::min(*start_, *end_) : start_.value_or(end_.value_or(0.0));
}

double PreviewSelection::to() const noexcept {
    return start_ && end_ ? std::max(*start_, *end_) : start_.value_or(end_.value_or(0.0));
}

std::string selectionText(std::int32_t fromMs, std::int32_t toMs) {
    const std::int64_t last = std::int64_t{toMs} - 1;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(last - fromMs) / 1000.0);
    return formatClock(fromMs, true) + " to " + formatClock(last, true) + " (" + seconds + " s)";
}

std::string PreviewSelection::describe() const {
    if (const auto range = rangeMs()) {
        return "Selection " + selectionText(range->first, range->second);
    }
    // One end only: in whole ms, as the range will take it.
    const auto clock = [](double ms) { return formatClock(std::llround(std::floor(ms)), true); };
    if (start_) {
        return "Selection from " + clock(*start_) + ": ] sets its end";
    }
    if (end_) {
        return "Selection to " + clock(*end_) + ": [ sets its start";
    }
    return {};
}

std::optional<std::pair<std::int32_t, std::int32_t>> PreviewSelection::rangeMs() const {
    if (!active()) {
        return std::nullopt;
    }
    constexpr double kLow = INT32_MIN, kHigh = INT32_MAX;
    const auto first = static_cast<std::int32_t>(std::clamp(std::floor(from()), kLow, kHigh));
    const auto last = static_cast<std::int32_t>(std::clamp(std::floor(to()) + 1, kLow, kHigh));
    return std::pair(first, last);
}

}  // namespace zk::ui

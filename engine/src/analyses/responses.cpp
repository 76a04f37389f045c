#include "zk/engine/analyses/responses.hpp"

#include <algorithm>
#include <cmath>

namespace zk {

namespace {

std::uint64_t rowsFor(double seconds, double rowsPerSecond) {
    return std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::lround(seconds * rowsPerSecond)));
}

}  // namespace

ResponseDetector::ResponseDetector(double rowsPerSecond)
    : smoothRows_(rowsFor(kSmoothingS, rowsPerSecond)),
      troughRows_(rowsFor(kTroughWindowS, rowsPerSecond)),
      holdRows_(rowsFor(kPeakHoldS, rowsPerSecond)) {}

void ResponseDetector::restart() {
    window_.clear();
    windowSum_ = 0;
    lows_.clear();
}

void ResponseDetector::gap() {
    ++row_;
    if (rising_ && peak_ - trough_ >= kThreshold) {
        found_.push_back({troughRow_, peakRow_, peak_ - trough_});
    }
    rising_ = false;
    restart();
}

void ResponseDetector::add(double conductance) {
    const std::uint64_t row = row_++;
    window_.push_back(conductance);
    windowSum_ += conductance;
    if (window_.size() > smoothRows_) {
        windowSum_ -= window_.front();
        window_.pop_front();
    }
    const double x = windowSum_ / static_cast<double>(window_.size());

    if (rising_) {
        if (x > peak_) {
            peak_ = x;
            peakRow_ = row;
        } else if (row - peakRow_ >= holdRows_) {
            found_.push_back({troughRow_, peakRow_, peak_ - trough_});
            rising_ = false;
            // The next trough is sought from here on: the fall after the peak is part of it.
            lows_.clear();
        }
        if (rising_) {
            return;
        }
    }
    // The lowest value of the trough window, kept as a queue of rising minima.
    while (!lows_.empty() && lows_.back().second >= x) {
        lows_.pop_back();
    }
    lows_.emplace_back(row, x);
    while (row - lows_.front().first >= troughRows_) {
        lows_.pop_front();
    }
    if (x - lows_.front().second >= kThreshold) {
        rising_ = true;
        trough_ = lows_.front().second;
        troughRow_ = lows_.front().first;
        peak_ = x;
        peakRow_ = row;
    }
}

const std::vector<ResponseDetector::Response>& ResponseDetector::finish() {
    if (rising_ && peak_ - trough_ >= kThreshold) {
        found_.push_back({troughRow_, peakRow_, peak_ - trough_});
    }
    rising_ = false;
    return found_;
}

}  // namespace zk

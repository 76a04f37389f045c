#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace zk {

/// Finds skin-conductance responses in a row-by-row conductance trace, as a plain rule that
/// can be stated in a sentence, not a model of the signal:
///
/// The trace is first smoothed by a moving average over the last half second of rows (none at
/// two rows a second or fewer). A response begins when the smoothed trace has risen by at least
/// the threshold (0.01 µS) above its lowest value of the last five seconds (its trough); it
/// peaks at the highest value reached before the trace has gone a second without a new high,
/// and its amplitude is peak − trough. After a response the trough is sought afresh from its
/// peak on, so one rise is never counted twice. A rise still under way at the end of the trace
/// counts when it has passed the threshold. Rows without a value (no skin contact) break the
/// trace: the smoothing and the search for a trough start again after them.
///
/// A steady drift of less than the threshold per five seconds is never a response.
class ResponseDetector {
  public:
    /// The rise that makes a response, in µS.
    static constexpr double kThreshold = 0.01;
    /// How far back a trough is sought, and how long a peak must stand, in seconds.
    static constexpr double kTroughWindowS = 5.0;
    static constexpr double kPeakHoldS = 1.0;
    /// The smoothing window, in seconds.
    static constexpr double kSmoothingS = 0.5;

    struct Response {
        std::uint64_t troughRow = 0;  ///< index of the row (as given to add()) of the trough
        std::uint64_t peakRow = 0;
        double amplitude = 0;  ///< µS
    };

    /// For a trace of `rowsPerSecond` rows a second (50 / UpdatePeriod).
    explicit ResponseDetector(double rowsPerSecond);

    /// The next row's conductance in µS.
    void add(double conductance);
    /// The next row has no conductance.
    void gap();
    /// Ends the trace; returns every response found, in order.
    const std::vector<Response>& finish();

  private:
    void restart();

    std::uint64_t smoothRows_;
    std::uint64_t troughRows_;
    std::uint64_t holdRows_;
    std::uint64_t row_ = 0;
    std::deque<double> window_;  // the last smoothRows_ values
    double windowSum_ = 0;
    std::deque<std::pair<std::uint64_t, double>> lows_;  // rising minima of the trough window
    bool rising_ = false;
    double trough_ = 0;
    std::uint64_t troughRow_ = 0;
    double peak_ = 0;
    std::uint64_t peakRow_ = 0;
    std::vector<Response> found_;
};

}  // namespace zk

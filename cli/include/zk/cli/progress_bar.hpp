#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace zk::cli {

/// The progress display of a long export, on a terminal: one line redrawn in place with "\r",
/// showing the file, a bar, the percentage and the records done out of those known. Nothing is
/// drawn for an export that ends within the first half second, the line is redrawn at most ten
/// times a second, and finish() erases it, so the terminal is left as it was.
class ProgressBar {
  public:
    using Clock = std::chrono::steady_clock;
    using NowFn = std::function<Clock::time_point()>;

    /// Quiet time before the first drawing, and the least time between two drawings.
    static constexpr auto kDelay = std::chrono::milliseconds(500);
    static constexpr auto kInterval = std::chrono::milliseconds(100);
    /// The line never grows beyond this many characters, so it fits an 80-column terminal.
    static constexpr std::size_t kWidth = 79;

    /// Starts timing now. `label` (usually the recording's name) is shortened from the left, at
    /// a character boundary, when it would not fit; its control characters (escape sequences
    /// included) and bytes that are not UTF-8 are shown as "\xNN" and never reach the terminal.
    /// `now` defaults to the steady clock.
    ProgressBar(std::ostream& out, std::string label, NowFn now = {});

    /// Records `done` out of `known`; draws when due. A `known` of 0 counts as nothing to do.
    void update(std::uint64_t done, std::uint64_t known);

    /// Erases the line if anything was drawn. Safe to call more than once.
    void finish();

    /// Whether the line is on the screen now.
    bool visible() const noexcept { return visible_; }

    /// The text of the line for `done` out of `known`, without "\r" (for tests and drawing).
    std::string lineFor(std::uint64_t done, std::uint64_t known) const;

  private:
    std::ostream& out_;
    std::vector<std::string> label_;  // one printable character (or escape) each
    NowFn now_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    std::size_t drawnLength_ = 0;
    bool visible_ = false;
};

}  // namespace zk::cli

#include "zk/cli/progress_bar.hpp"

#include <algorithm>
#include <cstdio>

namespace zk::cli {

namespace {

constexpr std::size_t kBarCells = 24;

}  // namespace

ProgressBar::ProgressBar(std::ostream& out, std::string label, NowFn now)
    : out_(out), label_(std::move(label)), now_(std::move(now)) {
    if (!now_) {
        now_ = [] { return Clock::now(); };
    }
    start_ = now_();
}

std::string ProgressBar::lineFor(std::uint64_t done, std::uint64_t known) const {
    const std::uint64_t total = std::max(known, done);
    const unsigned percent = total == 0 ? 100u : static_cast<unsigned>(done * 100 / total);
    const std::size_t filled = total == 0 ? kBarCells : done * kBarCells / total;

    char numbers[80];
    std::snprintf(numbers, sizeof numbers, " [%s%s] %3u%% %llu/%llu records",
                  std::string(filled, '#').c_str(), std::string(kBarCells - filled, '.').c_str(),
                  percent, static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total));
    std::string line = numbers;
    if (line.size() < kWidth) {
        const std::size_t room = kWidth - line.size();
        std::string label = label_;
        if (label.size() > room) {
            // Keep the end of the path: the file's name matters more than its folders.
            label = room > 3 ? "..." + label.substr(label.size() - (room - 3)) : std::string();
        }
        line.insert(0, label);
    }
    return line;
}

void ProgressBar::update(std::uint64_t done, std::uint64_t known) {
    const auto now = now_();
    if (now - start_ < kDelay || (visible_ && now - lastDraw_ < kInterval)) {
        return;
    }
    const std::string line = lineFor(done, known);
    // Pad over the rest of a longer earlier line.
    const std::size_t pad = drawnLength_ > line.size() ? drawnLength_ - line.size() : 0;
    out_ << '\r' << line << std::string(pad, ' ') << std::flush;
    drawnLength_ = std::max(drawnLength_, line.size());
    lastDraw_ = now;
    visible_ = true;
}

void ProgressBar::finish() {
    if (!visible_) {
        return;
    }
    out_ << '\r' << std::string(drawnLength_, ' ') << '\r' << std::flush;
    visible_ = false;
    drawnLength_ = 0;
}

}  // namespace zk::cli

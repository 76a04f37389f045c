#include "zk/cli/progress_bar.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zk::cli {

namespace {

constexpr std::size_t kBarCells = 24;

// Length of the UTF-8 sequence that starts with `lead`, or 0 when it can't start one.
std::size_t sequenceLength(unsigned char lead) {
    return lead < 0x80                   ? 1
           : lead >= 0xC2 && lead < 0xE0 ? 2
           : lead >= 0xE0 && lead < 0xF0 ? 3
           : lead >= 0xF0 && lead < 0xF5 ? 4
                                         : 0;
}

// The name as it may be shown on a terminal, cut into characters: control characters (an escape
// sequence's ESC among them) and bytes that are not UTF-8 become visible "\xNN" texts, so a
// file name can never move the cursor, recolour or retitle the terminal.
std::vector<std::string> printableCharacters(const std::string& name) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        std::size_t n = sequenceLength(c);
        for (std::size_t k = 1; k < n; ++k) {
            if (i + k >= name.size() || (static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) {
                n = 0;
            }
        }
        // C1 controls, U+0080..U+009F, are control characters too.
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0;
        if (n == 0 || c1 || c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out.emplace_back(hex);
            ++i;
            continue;
        }
        out.push_back(name.substr(i, n));
        i += n;
    }
    return out;
}

}  // namespace

ProgressBar::ProgressBar(std::ostream& out, std::string label, NowFn now)
    : out_(out), label_(printableCharacters(label)), now_(std::move(now)) {
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
    if (line.size() >= kWidth) {
        return line;
    }
    // Columns a shown character takes: one, or the length of an escape such as "\\x1B".
    const auto columns = [](const std::string& c) { return c[0] == '\\' ? c.size() : 1; };
    const std::size_t room = kWidth - line.size();
    std::size_t width = 0;
    for (const std::string& c : label_) {
        width += columns(c);
    }
    std::size_t first = 0;
    std::string label;
    if (width > room) {
        // Keep the end of the path: the file's name matters more than its folders.
        if (room <= 3) {
            return line;
        }
        label = "...";
        width = 0;
        first = label_.size();
        while (first > 0 && width + columns(label_[first - 1]) <= room - 3) {
            width += columns(label_[--first]);
        }
    }
    for (std::size_t k = first; k < label_.size(); ++k) {
        label += label_[k];
    }
    return label + line;
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

#include "zk/cli/progress_bar.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace zk::cli {
namespace {

using namespace std::chrono_literals;

// A clock that the test moves by hand.
struct FakeClock {
    ProgressBar::Clock::time_point now{};
    ProgressBar::NowFn fn() {
        return [this] { return now; };
    }
};

TEST(ProgressBar, StaysHiddenDuringTheFirstHalfSecond) {
    std::ostringstream out;
    FakeClock clock;
    ProgressBar bar(out, "run1.zkd", clock.fn());
    clock.now += 499ms;
    bar.update(100, 1000);
    bar.finish();
    EXPECT_EQ(out.str(), "");
    EXPECT_FALSE(bar.visible());
}

TEST(ProgressBar, DrawsAtMostTenTimesASecondAndErasesItsLine) {
    std::ostringstream out;
    FakeClock clock;
    ProgressBar bar(out, "run1.zkd", clock.fn());
    clock.now += 500ms;
    bar.update(250, 1000);
    const std::string first = "\r" + bar.lineFor(250, 1000);
    EXPECT_EQ(out.str(), first);
    EXPECT_TRUE(bar.visible());

    clock.now += 99ms;
    bar.update(300, 1000);  // too soon: not drawn
    EXPECT_EQ(out.str(), first);

    clock.now += 1ms;
    bar.update(1000, 1000);
    const std::string line = bar.lineFor(1000, 1000);
    EXPECT_EQ(out.str(), first + "\r" + line);

    bar.finish();
    EXPECT_EQ(out.str(), first + "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
    EXPECT_FALSE(bar.visible());
    bar.finish();  // nothing more
    EXPECT_EQ(out.str(), first + "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
}

TEST(ProgressBar, LineShowsPercentAndRecordsAndFitsEightyColumns) {
    std::ostringstream out;
    ProgressBar bar(out, "run1.zkd");
    EXPECT_EQ(bar.lineFor(250, 1000), "run1.zkd [######..................]  25% 250/1000 records");
    EXPECT_EQ(bar.lineFor(0, 0), "run1.zkd [########################] 100% 0/0 records");
    // A recording that grew past what was known counts what was done.
    EXPECT_EQ(bar.lineFor(1200, 1000),
              "run1.zkd [########################] 100% 1200/1200 records");

    const std::string longPath = "/data/" + std::string(100, 'x') + "/run1.zkd";
    ProgressBar longBar(out, longPath);
    const std::string line = longBar.lineFor(5, 10);
    EXPECT_LE(line.size(), ProgressBar::kWidth);
    EXPECT_EQ(line.substr(0, 3), "...");
    EXPECT_NE(line.find("run1.zkd [############............]  50% 5/10 records"),
              std::string::npos);
}

TEST(ProgressBar, ALongerEarlierLineIsOverwrittenCompletely) {
    std::ostringstream out;
    FakeClock clock;
    ProgressBar bar(out, "r", clock.fn());
    clock.now += 1s;
    bar.update(999999, 1000000);
    const std::size_t longLength = bar.lineFor(999999, 1000000).size();
    clock.now += 1s;
    bar.update(5, 10);  // a shorter line: padded over the old one
    const std::string shortLine = bar.lineFor(5, 10);
    const std::string text = out.str();
    EXPECT_EQ(text.substr(text.rfind('\r')),
              "\r" + shortLine + std::string(longLength - shortLine.size(), ' '));
}

}  // namespace
}  // namespace zk::cli

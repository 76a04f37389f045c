// Runs every file of the seed corpora (and every crash input kept there after a fix) through
// its fuzz target, so that ./test.sh replays them with the normal build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_targets.hpp"

namespace zk::fuzz {
namespace {

namespace fs = std::filesystem;

struct Target {
    const char* corpus;  // folder under tests/fuzz/corpus
    void (*run)(const std::uint8_t*, std::size_t);
};

void PrintTo(const Target& t, std::ostream* os) {
    *os << t.corpus;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, EveryCorpusFileKeepsItsProperties) {
    const fs::path folder = fs::path(ZK_FUZZ_CORPUS) / GetParam().corpus;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    // An empty or missing corpus would make this test pass while replaying nothing.
    ASSERT_GE(files.size(), 10u) << folder;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        try {
            GetParam().run(bytes.data(), bytes.size());
        } catch (const PropertyBroken& e) {
            ADD_FAILURE() << file.filename() << ": " << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::Values(Target{"export", exportTarget},
                                           Target{"config", configTarget},
                                           Target{"zkexport", zkexportTarget}),
                         [](const auto& info) { return std::string(info.param.corpus); });

}  // namespace
}  // namespace zk::fuzz

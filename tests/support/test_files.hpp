#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zk::test {

/// The whole content of a file; empty when it can't be read.
inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Writes `bytes` as the whole content of a file.
inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

/// A folder of its own for the running test, in the temporary folder, named after `prefix`, the
/// process and the test (not created).
inline std::filesystem::path scratchFolderForThisTest(const std::string& prefix) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return std::filesystem::temp_directory_path() /
           (prefix + "_" + std::to_string(::getpid()) + "_" + name);
}

}  // namespace zk::test

#pragma once

// Small recordings and a scratch folder for the command-line tests.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

#include "test_recording.hpp"
#include "zk/engine/record.hpp"

namespace zk::cli::test {

using zk::test::Rec;
using zk::test::recordingBytes;

/// Five records 20 ms apart with the samples first, first + 1, ..., first + 4.
inline std::string fiveRecords(std::uint16_t first = 1000) {
    return recordingBytes({{0, first},
                           {20, static_cast<std::uint16_t>(first + 1)},
                           {40, static_cast<std::uint16_t>(first + 2)},
                           {60, static_cast<std::uint16_t>(first + 3)},
                           {80, static_cast<std::uint16_t>(first + 4)}});
}

/// The CSV of fiveRecords(first) with the default settings.
inline std::string fiveRecordsCsv(int first = 1000) {
    std::string csv = "Time(msec),Data(16 bit)\r\r\n";
    for (int i = 0; i < 5; ++i) {
        csv += " " + std::to_string(i * 20) + ", " + std::to_string(first + i) + "\r\n";
    }
    return csv;
}

/// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zkexport-test-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

}  // namespace zk::cli::test

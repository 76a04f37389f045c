#include "failure_files.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "zk/engine/record.hpp"

namespace zk::failure {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zk_failure.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder");
    }
    path_ = pattern;
    ::chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() {
    std::error_code ec;
    // Folders a test made read-only must be writable again before their files can go.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) {
            ::chmod(it->path().c_str(), 0777);
        }
    }
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::leftovers(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.empty() ? path_ : folder)) {
        const std::string name = entry.path().filename().string();
        if ((name.starts_with(".") && name.ends_with(".part")) || name.ends_with(".tmp")) {
            names.push_back(name);
        }
    }
    return names;
}

std::string steadyRecording(std::size_t count) {
    std::vector<Rec> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back({static_cast<std::int32_t>(20 * i),
                           static_cast<std::uint16_t>(3000 + (i * 7919) % 40000),
                           i % 1000 == 500 ? static_cast<int>(i / 1000) : -1});
    }
    return recordingBytes(records);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Finished runProgram(const std::string& program, const std::vector<std::string>& args,
                    std::optional<uid_t> uid) {
    return zk::test::runProcess(program, args, uid);
}

namespace {

// Another user may not reach the build folder (a clone in a private temporary folder, say), so
// runs as that user take a copy of zkexport from a folder that everybody can read.
class SharedProgramCopy {
  public:
    SharedProgramCopy() {
        std::string pattern = (fs::temp_directory_path() / "zk_failure_bin.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        folder_ = pattern;
        fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        path_ = (folder_ / "zkexport").string();
        fs::copy_file(ZKEXPORT_PATH, path_);
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
    }
    ~SharedProgramCopy() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    fs::path folder_;
    std::string path_;
};

}  // namespace

Finished runZkexport(const std::vector<std::string>& args, std::optional<uid_t> uid) {
    if (uid) {
        static const SharedProgramCopy copy;
        return runProgram(copy.path(), args, uid);
    }
    return runProgram(ZKEXPORT_PATH, args, uid);
}

bool isRoot() {
    return ::geteuid() == 0;
}

}  // namespace zk::failure

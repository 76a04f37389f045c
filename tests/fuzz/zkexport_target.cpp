// Fuzz target: zkexport's argument handling, run in-process in a scratch folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_targets.hpp"
#include "zk/cli/zkexport.hpp"
#include "zk/engine/byte_sink.hpp"
#include "zk/engine/record.hpp"
#include "zk/engine/recording.hpp"

namespace zk::fuzz {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxArgs = 64;

// `count` records 20 ms apart of type `type` at `badAt` (P elsewhere), with a tag on the
// second record.
std::string recording(int count, int badAt = -1, char type = 'S') {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        unsigned char block[kRecordSize] = {};
        SampleRecord r;
        r.TimeMs = i * 20;
        r.RawValue = static_cast<std::uint16_t>(1000 + 37 * i);
        if (i == 1) {
            r.TagMarker = 'T';
            r.TagLow = 7;
        }
        r.RecordType = static_cast<std::uint8_t>(i == badAt ? type : 'P');
        r.encodeInto(block);
        bytes.append(reinterpret_cast<const char*>(block), sizeof block);
    }
    return bytes;
}

// The recordings that the arguments can name; an argument without "/" names a file here.
const std::vector<std::pair<std::string, std::string>>& seedFiles() {
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"good.zkd", recording(12)},
        {"two.zkd", recording(40)},
        {"bad.zkd", recording(8, 2)},
        {"short.zkd", recording(4)},
        {"odd.zkd", recording(6) + "abc"},
        {"x.zk", recording(5)},
        {"empty.zkd", ""},
        {"later.zkd", recording(9, 6, 'Q')},
    };
    return files;
}

// root/work is the current folder while zkexport runs; ".." reaches root and no further,
// since no argument holds a "/".
class Scratch {
  public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "zk_fuzz_zkexport.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        work_ = root_ / "work";
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // Empties both folders and writes the recordings afresh.
    void reset() const {
        for (const auto& entry : fs::directory_iterator(root_)) {
            fs::remove_all(entry.path());
        }
        fs::create_directory(work_);
        for (const auto& [name, bytes] : seedFiles()) {
            std::ofstream(work_ / name, std::ios::binary).write(bytes.data(), bytes.size());
        }
    }

    // The entries of both folders, relative to root.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            names.insert(fs::relative(entry.path(), root_).string());
        }
        return names;
    }

    const fs::path& work() const { return work_; }

  private:
    fs::path root_;
    fs::path work_;
};

const Scratch& scratch() {
    static const Scratch folder;
    return folder;
}

// Changes the current folder for the life of the object.
class InFolder {
  public:
    explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~InFolder() { fs::current_path(previous_); }

  private:
    fs::path previous_;
};

}  // namespace

void zkexportTarget(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            if (args.size() == kMaxArgs) {
                break;
            }
            args.emplace_back();
        } else {
            args.back() += c == '/' ? '_' : c;
        }
    }
    if (size == 0) {
        args.clear();
    }

    const Scratch& folder = scratch();
    folder.reset();
    const std::set<std::string> before = folder.entries();

    std::ostringstream out, err;
    StringSink csv("standard output");
    cli::Console console{.out = out,
                         .err = err,
                         .csvOut = &csv,
                         .csvOutFd = -1,
                         .errIsTerminal = false,
                         .stopSignal = nullptr,
                         .now = {}};
    int status = -1;
    {
        InFolder here(folder.work());
        status = cli::runZkExport(args, console);
    }

    const std::set<std::string> after = folder.entries();
    require(status == cli::kExitOk || status == cli::kExitFailure || status == cli::kExitUsage ||
                status == cli::kExitInvalid,
            "an undocumented exit status " + std::to_string(status));
    require(status == cli::kExitOk || !err.str().empty(), "a failure was not reported");
    if (status == cli::kExitInvalid) {
        require(err.str().find(kIncompatibleFileMessage) != std::string::npos,
                "status 3 without the validation message");
    }
    if (status == cli::kExitUsage) {
        require(after == before && csv.text().empty(), "a usage error wrote something");
    }
    for (const auto& name : after) {
        const std::string file = fs::path(name).filename().string();
        require(!(file.starts_with(".") && file.ends_with(".part")),
                "a temporary file was left behind: " + name);
    }
}

}  // namespace zk::fuzz

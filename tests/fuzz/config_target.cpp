// Fuzz target: the configuration reader over arbitrary text, and the save of what it read.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "fuzz_targets.hpp"
#include "zk/settings/config_file.hpp"

namespace zk::fuzz {

namespace {

namespace fs = std::filesystem;

// A folder of its own for the files of this process, removed at exit.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "zk_fuzz_config.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

const fs::path& scratch() {
    static const ScratchFolder folder;
    return folder.path();
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Settings far from the defaults, so that a load which leaves a field alone is seen.
ExportSettings scrambled() {
    ExportSettings s;
    s.SourceDir = "left over/";
    s.DestDir = "also left over/";
    s.UpdatePeriod = -77;
    s.IncludeHeaders = !s.IncludeHeaders;
    s.IncludeTime = !s.IncludeTime;
    s.IncludeData = !s.IncludeData;
    s.IncludeBaseline = !s.IncludeBaseline;
    s.IncludeResistance = !s.IncludeResistance;
    s.IncludeTags = !s.IncludeTags;
    return s;
}

}  // namespace

void configTarget(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const fs::path file = scratch() / "zkFileExport.cfg";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        require(out.good(), "cannot write the scratch file");
    }

    const std::optional<ExportSettings> parsed = parseConfigText(text);
    ExportSettings loaded = scrambled();
    const bool ok = Load_Config(loaded, file);
    require(ok == parsed.has_value(), "Load_Config and parseConfigText disagree on the text");
    if (!ok) {
        require(loaded == ExportSettings{}, "a failed load left something other than the defaults");
        return;
    }
    require(loaded == *parsed, "Load_Config kept other values than parseConfigText read");

    // What was read is saved as the writer's own text, and that text reads back the same.
    const std::string written = configFileText(loaded);
    const std::optional<ExportSettings> again = parseConfigText(written);
    require(again && *again == loaded, "the text of what was read does not read back the same");
    std::size_t lines = 0;
    for (std::size_t at = 0; at < written.size(); ++lines) {
        const auto end = written.find("\r\n", at);
        require(end != std::string::npos, "a line of the saved file does not end in CR LF");
        require(written.find_first_of("\r\n", at) == end, "a stray CR or LF in the saved file");
        at = end + 2;
    }
    require(lines == 16, "the saved file does not hold 16 lines");

    const fs::path saved = scratch() / "saved.cfg";
    require(Save_Config(loaded, saved), "Save_Config failed in a writable folder");
    require(readAll(saved) == written, "Save_Config wrote other bytes than configFileText");
    ExportSettings reloaded = scrambled();
    require(Load_Config(reloaded, saved) && reloaded == loaded,
            "the saved file does not load back the same");
}

}  // namespace zk::fuzz

#include "zk/settings/config_file.hpp"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>

#include "zk/engine/error.hpp"
#include "zk/engine/output/output_set.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/platform.hpp"

namespace zk {
namespace {

constexpr std::string_view kTrue = "#TRUE#";
constexpr std::string_view kFalse = "#FALSE#";
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kSpareItems = 7;

// The file is 16 short items; anything this far in lies beyond them, so a huge file (or a
// device posing as one) is never read whole.
constexpr std::streamsize kMaxBytesRead = 1 << 20;

// A directory is written between quotes with no escaping, one item per line, so these
// characters would end it early or split the file.
bool canStoreDirectory(std::string_view dir) {
    return dir.find_first_of(std::string_view("\"\r\n\0", 4)) == std::string_view::npos &&
           isUtf8(dir);
}

struct Item {
    std::string_view text;
    bool quoted = false;
};

// Splits the file into items: an item ends at a comma outside quotes or at a line end.
class ItemReader {
  public:
    explicit ItemReader(std::string_view text) : text_(text) {}

    // False at the end of the text or at a malformed item.
    bool next(Item& item) {
        skipBlanks();
        if (pos_ >= text_.size()) {
            return false;
        }
        if (text_[pos_] == '"') {
            const std::size_t close = text_.find_first_of("\"\r\n", pos_ + 1);
            if (close == std::string_view::npos || text_[close] != '"') {
                return false;  // the quote isn't closed on its line
            }
            item = {text_.substr(pos_ + 1, close - pos_ - 1), true};
            pos_ = close + 1;
            skipBlanks();
        } else {
            std::size_t end = text_.find_first_of(",\r\n", pos_);
            if (end == std::string_view::npos) {
                end = text_.size();
            }
            std::string_view raw = text_.substr(pos_, end - pos_);
            while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t')) {
                raw.remove_suffix(1);
            }
            if (raw.find('"') != std::string_view::npos) {
                return false;
            }
            item = {raw, false};
            pos_ = end;
        }
        return endItem();
    }

  private:
    void skipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }

    bool endItem() {
        if (pos_ >= text_.size()) {
            return true;
        }
        switch (text_[pos_]) {
            case ',':
            case '\n':
                ++pos_;
                return true;
            case '\r':
                ++pos_;
                if (pos_ < text_.size() && text_[pos_] == '\n') {
                    ++pos_;
                }
                return true;
            default:
                return false;  // something follows a closing quote
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool readDirectory(ItemReader& reader, std::string& dir) {
    Item item;
    if (!reader.next(item) || !isUtf8(item.text)) {
        return false;
    }
    dir.assign(item.text);
    return true;
}

bool readPeriod(ItemReader& reader, std::int16_t& period) {
    Item item;
    if (!reader.next(item) || item.quoted || item.text.empty()) {
        return false;
    }
    long long value = 0;
    const char* first = item.text.data();
    const char* last = first + item.text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || value < INT16_MIN || value > INT16_MAX) {
        return false;
    }
    period = static_cast<std::int16_t>(value);
    return true;
}

bool readFlag(ItemReader& reader, bool& flag) {
    Item item;
    if (!reader.next(item) || item.quoted) {
        return false;
    }
    if (item.text == kTrue) {
        flag = true;
    } else if (item.text == kFalse) {
        flag = false;
    } else {
        return false;
    }
    return true;
}

void appendDirectory(std::string& out, const std::string& dir) {
    out += '"';
    if (canStoreDirectory(dir)) {
        out += dir;
    }
    out += '"';
    out += kLineEnd;
}

void appendFlag(std::string& out, bool flag) {
    out += flag ? kTrue : kFalse;
    out += kLineEnd;
}

}  // namespace

std::string configFileText(const ExportSettings& settings) {
    std::string out;
    appendDirectory(out, settings.SourceDir);
    appendDirectory(out, settings.DestDir);
    out += std::to_string(settings.UpdatePeriod);
    out += kLineEnd;
    for (bool flag : {settings.IncludeHeaders, settings.IncludeTime, settings.IncludeData,
                      settings.IncludeBaseline, settings.IncludeResistance, settings.IncludeTags}) {
        appendFlag(out, flag);
    }
    for (int i = 0; i < kSpareItems; ++i) {
        out += "\"\"";
        out += kLineEnd;
    }
    return out;
}

std::optional<ExportSettings> parseConfigText(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    // Editors on some systems start a UTF-8 text with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    ItemReader reader(text);
    ExportSettings s;
    bool ok = readDirectory(reader, s.SourceDir) && readDirectory(reader, s.DestDir) &&
              readPeriod(reader, s.UpdatePeriod) && readFlag(reader, s.IncludeHeaders) &&
              readFlag(reader, s.IncludeTime) && readFlag(reader, s.IncludeData) &&
              readFlag(reader, s.IncludeBaseline) && readFlag(reader, s.IncludeResistance) &&
              readFlag(reader, s.IncludeTags);
    Item spare;
    for (int i = 0; ok && i < kSpareItems; ++i) {
        ok = reader.next(spare);
    }
    if (!ok) {
        return std::nullopt;
    }
    return s;
}

Result<ExportSettings> Load_Config(const std::filesystem::path& file) try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return Error(ErrorCode::OpenFailed, "is not a file", file.string());
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return Error(ErrorCode::OpenFailed, "cannot open the settings", file.string());
    }
    // Read in pieces up to the limit: the file is normally 90 bytes.
    std::string text;
    char piece[4096];
    while (static_cast<std::streamsize>(text.size()) < kMaxBytesRead) {
        in.read(piece, sizeof piece);
        text.append(piece, static_cast<std::size_t>(in.gcount()));
        if (!in) {
            break;
        }
    }
    if (in.bad()) {
        return Error(ErrorCode::ReadFailed, "cannot read the settings", file.string());
    }
    if (static_cast<std::streamsize>(text.size()) > kMaxBytesRead) {
        text.resize(static_cast<std::size_t>(kMaxBytesRead));
    }
    const std::optional<ExportSettings> read = parseConfigText(text);
    if (!read) {
        return Error(ErrorCode::InvalidSettings, "is not a settings file of this program",
                     file.string());
    }
    return *read;
} catch (...) {
    return currentFailure(file.string(), "reading the settings");
}

namespace {

// Why a save of `file` failed: "reason: the system's text for err".
std::optional<Error> failure(const std::filesystem::path& file, const std::string& reason,
                             int err) {
    return systemError(ErrorCode::WriteFailed, reason, err, file.string());
}

}  // namespace

std::optional<Error> replaceFileSafely(const std::filesystem::path& file, const std::string& text) {
    const std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : ".";
    // The one safe write of the program: the output files' own.
    try {
        OutputSet set;
        std::string failed;
        if (const int err = set.makeFolders(dir.string(), failed); err != 0) {
            return failure(file, "cannot create the folder " + dir.string(), err);
        }
        set.add(file.string(), OutputFile::Existing::Replace, "the file")
            .sink()
            .write(text.data(), text.size());
        set.commit();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

std::optional<Error> Save_Config(const ExportSettings& settings,
                                 const std::filesystem::path& file) try {
    namespace fs = std::filesystem;
    const auto failed = [&file](const std::string& reason, int err) {
        return failure(file, reason, err);
    };
    std::error_code ec;
    fs::path target = file;
    // Replace what a symbolic link points to, not the link itself.
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) {
            return failed("cannot follow the link", ec.value());
        }
    }
    if (fs::is_directory(target, ec)) {
        return failed("is a folder", EISDIR);
    }
    // A file the user has made read-only is not replaced behind their back.
    if (fs::exists(fs::symlink_status(target, ec))) {
        if (const int refusal = platform::writeRefusal(target.string()); refusal != 0) {
            return failed("the file may not be written", refusal);
        }
    }
    return replaceFileSafely(target, configFileText(settings));
} catch (...) {
    return currentFailure(file.string(), "saving the settings");
}

}  // namespace zk

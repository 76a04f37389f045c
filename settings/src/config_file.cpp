#include "zk/settings/config_file.hpp"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <system_error>

namespace zk {
namespace {

constexpr std::string_view kTrue = "#TRUE#";
constexpr std::string_view kFalse = "#FALSE#";
constexpr std::string_view kLineEnd = "\r\n";
constexpr int kSpareItems = 7;

// The file is 16 short items; anything this far in lies beyond them, so a huge file (or a
// device posing as one) is never read whole.
constexpr std::streamsize kMaxBytesRead = 1 << 20;

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= static_cast<std::size_t>(extra)) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
        if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return false;
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

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

bool Load_Config(ExportSettings& settings, const std::filesystem::path& file) {
    settings = ExportSettings{};
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
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
        return false;
    }
    if (static_cast<std::streamsize>(text.size()) > kMaxBytesRead) {
        text.resize(static_cast<std::size_t>(kMaxBytesRead));
    }
    const std::optional<ExportSettings> read = parseConfigText(text);
    if (!read) {
        return false;
    }
    settings = *read;
    return true;
}

bool Save_Config(const ExportSettings& settings, const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = file;
    // Replace what a symbolic link points to, not the link itself.
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) {
            return false;
        }
    }
    if (target.has_parent_path()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            return false;
        }
    }
    fs::path temp = target;
    temp += ".tmp";
    const std::string text = configFileText(settings);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace zk

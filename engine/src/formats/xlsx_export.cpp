// Excel workbooks, written with libxlsxwriter in its constant-memory mode: each row goes to a
// temporary file as soon as the next one starts, so memory stays flat whatever the length.
//
// Sheets: "Data" (and "Data 2", ... once a sheet is full), each with the heading and the
// column-header row when headers are on, then one row for each line of the CSV, numbers as
// numbers; "Tags", every tag mark with the row that carries it; "Epochs" with --epochs, the
// epochs CSV's numbers; "Recording", what was exported.
//
// The library's temporary files and messages. libxlsxwriter assembles every part of the
// workbook in temporary files that it makes with its own lxw_tmpfile(), ignores a failed write
// to them (a full disk gave a workbook of empty parts and no error), keeps them open when a
// workbook is given up instead of closed, and prints its errors to the standard error stream.
// So its import table (the entries through which its code reaches lxw_tmpfile and stderr) is
// pointed at this file's own: temporary files beside the workbook, through streams that record
// the first failure and that are closed when the workbook is given up, and a stream that drops
// the library's messages (this program says what failed and why). Only the library's own
// references change: the process's stderr stays as it is for every other caller and thread,
// which redirecting the descriptor around the library's calls would not have ensured.

#include <xlsxwriter.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/format_writers.hpp"
#include "platform/platform.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/output/paths.hpp"
#include "zk/engine/recording/row.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk::detail {

namespace {

// Text as a workbook cell holds it: spreadsheets read "_xHHHH_" (four hex digits) as an escaped
// character, so the "_" that starts such a sequence in the text is itself written escaped,
// "_x005F_".
std::string cellText(std::string_view text) {
    std::string cell;
    cell.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
            std::all_of(&text[i + 2], &text[i + 6],
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
            cell += "_x005F";
        }
        cell += text[i];
    }
    return cell;
}

// Rows per worksheet (setSheetRows()).
std::atomic<std::uint32_t> gSheetRows{kMaxSheetRows};

// A tag and where it went.
struct TagPlace {
    std::uint16_t number;
    std::optional<std::int32_t> timeMs;  // none for a tag before the first row
    std::size_t sheet;
    lxw_row_t row;  // from 0
};

// The temporary files of one workbook, in its folder, as the library's streams.
using TempFiles = platform::TemporaryStreams;

// The temporary files of the workbook being written on this thread.
thread_local TempFiles* tTempFiles = nullptr;

// The library's lxw_tmpfile: the library writes a workbook only for this file's Workbook.
FILE* libraryTempFile(char* /*tmpdir*/) {
    if (tTempFiles == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return tTempFiles->open();
}

// The library's entry points that this file uses.
#define ZK_XLSX_FUNCTIONS(X)    \
    X(workbook_new_opt)         \
    X(workbook_add_worksheet)   \
    X(workbook_add_format)      \
    X(format_set_num_format)    \
    X(worksheet_set_column)     \
    X(worksheet_write_string)   \
    X(worksheet_write_number)   \
    X(worksheet_write_datetime) \
    X(workbook_close)           \
    X(lxw_workbook_free)        \
    X(lxw_strerror)

struct Xlsx {
#define ZK_XLSX_MEMBER(f) decltype(&::f) f;
    ZK_XLSX_FUNCTIONS(ZK_XLSX_MEMBER)
#undef ZK_XLSX_MEMBER
};

#if ZK_XLSXWRITER_LINKED
// Linked into the program (the Windows build): the link points the library's calls of
// lxw_tmpfile here, and its messages go to zk_library_message (tools/windows-deps.sh).
std::optional<Xlsx> loadXlsx() {
#define ZK_XLSX_LINKED(f) &::f,
    return Xlsx{ZK_XLSX_FUNCTIONS(ZK_XLSX_LINKED)};
#undef ZK_XLSX_LINKED
}
#else
// Loaded when the first workbook is written: with the library come a zip library and a
// cryptography library whose loading would add about 2 ms to every start of the program, CSV
// exports included.
std::optional<Xlsx> loadXlsx() {
    void* const library = platform::openLibrary(ZK_XLSXWRITER_LIBRARY);
    if (library == nullptr) {
        return std::nullopt;
    }
    Xlsx a{};
    bool found = true;
#define ZK_XLSX_LOAD(f)                                                     \
    a.f = reinterpret_cast<decltype(a.f)>(platform::symbolOf(library, #f)); \
    found = found && a.f != nullptr;
    ZK_XLSX_FUNCTIONS(ZK_XLSX_LOAD)
#undef ZK_XLSX_LOAD
    // Without its temporary files under this program's watch a workbook could be written
    // broken and called whole, so the library is not used then.
    found =
        found &&
        platform::redirectImport(library, "lxw_tmpfile", platform::symbolOf(library, "lxw_tmpfile"),
                                 reinterpret_cast<void*>(&libraryTempFile)) &&
        platform::silenceLibrary(library);
    return found ? std::optional(a) : std::nullopt;
}
#endif

const Xlsx& xlsx(const std::string& name) {
    static const std::optional<Xlsx> api = loadXlsx();
    if (!api) {
        throw Error(ErrorCode::OpenFailed,
                    "cannot write a workbook: the library " ZK_XLSXWRITER_LIBRARY
                    " can't be loaded or doesn't have what this program needs",
                    name);
    }
    return *api;
}

// Where the temporary files of the workbook `name` go: beside it (beside the file a link names),
// where the workbook needs the space anyway; into the system's temporary folder for a workbook
// written into a device.
std::string temporaryFolderFor(const std::string& name) {
    namespace fs = std::filesystem;
    if (const auto st = platform::infoOf(name).info;
        st && st->kind != platform::FileKind::Regular) {
        return platform::temporaryFolder();
    }
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(pathOf(name), ec);
    const fs::path folder = (ec ? pathOf(name) : resolved).parent_path();
    return folder.empty() ? "." : nameOf(folder);
}

class Workbook {
  public:
    Workbook(const std::string& path, const std::string& name)
        : x_(xlsx(name)), name_(name), temp_(temporaryFolderFor(name)), outer_(tTempFiles) {
        tTempFiles = &temp_;
        lxw_workbook_options o{};
        o.constant_memory = LXW_TRUE;
        o.use_zip64 = LXW_FALSE;
        o.tmpdir = const_cast<char*>(temp_.folder().c_str());
        workbook_ = x_.workbook_new_opt(path.c_str(), &o);
        if (workbook_ == nullptr) {
            tTempFiles = outer_;
            throw Error(ErrorCode::OpenFailed, "cannot create the workbook", name_);
        }
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;
    ~Workbook() {
        if (workbook_ != nullptr) {
            // A failed or cancelled export: nothing is written. The library would keep each
            // sheet's temporary file open until the program ends; they are closed here, and
            // their space is free at once.
            for (lxw_worksheet* sheet : sheets_) {
                sheet->optimize_tmpfile = nullptr;
                sheet->file = nullptr;
            }
            temp_.closeAll();
            x_.lxw_workbook_free(workbook_);
        }
        tTempFiles = outer_;
    }

    lxw_worksheet* addSheet(const std::string& sheetName) {
        lxw_worksheet* sheet = x_.workbook_add_worksheet(workbook_, sheetName.c_str());
        checkTemporaryFiles();
        if (sheet == nullptr) {
            throw Error(ErrorCode::WriteFailed, "cannot add the sheet " + sheetName, name_);
        }
        sheets_.push_back(sheet);
        if (!temp_.holds(sheet->optimize_tmpfile)) {
            throw Error(ErrorCode::WriteFailed,
                        "cannot write the workbook: the library keeps the sheet " + sheetName +
                            " in a file of its own",
                        name_);
        }
        return sheet;
    }

    void number(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, double value) const {
        check(x_.worksheet_write_number(sheet, row, column, value, nullptr));
    }

    void text(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, std::string_view value) const {
        check(x_.worksheet_write_string(sheet, row, column, cellText(value).c_str(), nullptr));
    }

    // A date and time cell shown as 2024-03-05 14:30:00; text for a year a spreadsheet's dates
    // can't hold.
    void dateTime(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, const StartTime& t) {
        if (t.year < 1900 || t.year > 9999) {
            text(sheet, row, column, formatStartTime(t));
            return;
        }
        if (dateFormat_ == nullptr) {
            dateFormat_ = x_.workbook_add_format(workbook_);
            if (dateFormat_ == nullptr) {
                throw Error(ErrorCode::OutOfMemory, "not enough memory for the workbook", name_);
            }
            x_.format_set_num_format(dateFormat_, "yyyy-mm-dd hh:mm:ss");
        }
        lxw_datetime d{t.year, t.month, t.day, t.hour, t.minute, static_cast<double>(t.second)};
        check(x_.worksheet_write_datetime(sheet, row, column, &d, dateFormat_));
    }

    void width(lxw_worksheet* sheet, lxw_col_t first, lxw_col_t last, double width) const {
        check(x_.worksheet_set_column(sheet, first, last, width, nullptr));
    }

    void close() {
        errno = 0;
        const lxw_error e = x_.workbook_close(std::exchange(workbook_, nullptr));
        const int err = errno;
        temp_.closeAll();  // the parts it left open when it failed
        checkTemporaryFiles();
        if (e == LXW_NO_ERROR) {
            return;
        }
        const bool system = e == LXW_ERROR_CREATING_XLSX_FILE ||
                            e == LXW_ERROR_ZIP_FILE_OPERATION || e == LXW_ERROR_ZIP_FILE_ADD ||
                            e == LXW_ERROR_ZIP_CLOSE;
        if (system && err != 0) {
            throw systemError(ErrorCode::WriteFailed, "cannot write the workbook", err, name_);
        }
        throw Error(ErrorCode::WriteFailed,
                    std::string("cannot write the workbook: ") + x_.lxw_strerror(e), name_);
    }

  private:
    void check(lxw_error e) const {
        checkTemporaryFiles();
        if (e != LXW_NO_ERROR) {
            throw Error(ErrorCode::WriteFailed,
                        std::string("cannot write the workbook: ") + x_.lxw_strerror(e), name_);
        }
    }

    void checkTemporaryFiles() const {
        if (temp_.failure() != 0) {
            throw systemError(
                ErrorCode::WriteFailed,
                std::string(temp_.failedToCreate() ? "cannot create" : "cannot write") +
                    " the workbook's temporary files in " + temp_.folder(),
                temp_.failure(), name_);
        }
    }

    const Xlsx& x_;
    std::string name_;
    TempFiles temp_;
    TempFiles* outer_;
    lxw_workbook* workbook_ = nullptr;
    std::vector<lxw_worksheet*> sheets_;
    lxw_format* dateFormat_ = nullptr;
};

// A column as wide as its header, and at least as wide as a spreadsheet's default.
double columnWidth(std::string_view header) {
    return static_cast<double>(std::max<std::size_t>(header.size(), 8) + 2);
}

std::string sheetName(std::size_t index) {
    return index == 0 ? "Data" : "Data " + std::to_string(index + 1);
}

// The workbook: the data sheets as the rows come, then the sheets of the tags, the epochs and
// the recording.
class WorkbookWriter final : public FormatWriter {
  public:
    WorkbookWriter(const std::string& path, const std::string& name, const ExportOptions& options,
                   const RecordingFacts& facts)
        : options_(options),
          facts_(facts),
          values_(options),
          book_(path, name),
          headers_(includedHeaders(options)),
          tagColumn_(columnOf("Tag Number")),
          heading_(options.IncludeHeaders ? options.heading.value_or("") : ""),
          headerRows_((options.IncludeHeaders ? 1 : 0) + (heading_.empty() ? 0 : 1)),
          sheetRows_(std::clamp<lxw_row_t>(gSheetRows.load(), headerRows_ + 1, kMaxSheetRows)),
          valueRows_(hasValueColumn(options)),
          at_(sheetRows_) {}

    std::optional<std::uint64_t> begin() override {
        nextSheet();
        return std::nullopt;
    }

    void rows(const RowBlock& block) override {
        for (const Row& row : block.rows) {
            // The CSV has a line for a row with any value column, and for a row whose tag it
            // shows.
            const bool showsTag = options_.IncludeTags && row.hasTags();
            if (!showsTag && !(valueRows_ && row.hasRecord())) {
                continue;
            }
            if (at_ == sheetRows_) {
                nextSheet();
            }
            if (row.hasRecord()) {
                writeValues(row);
            }
            if (showsTag) {
                writeTag(block, row);
            }
            ++at_;
        }
    }

    void finish(ExportResult& result) override {
        if (options_.IncludeTags) {
            result.tagsLeftOut = writeTagSheet();
        }
        if (options_.epochs) {
            writeEpochSheet();
        }
        writeRecordingSheet(result);
        book_.close();
    }

  private:
    static std::vector<std::string_view> includedHeaders(const ExportOptions& options) {
        std::vector<std::string_view> headers;
        for (const Column& column : kColumns) {
            if (options.*column.flag) {
                headers.push_back(column.header);
            }
        }
        return headers;
    }

    lxw_col_t columnOf(std::string_view header) const {
        return static_cast<lxw_col_t>(std::find(headers_.begin(), headers_.end(), header) -
                                      headers_.begin());
    }

    // A new data sheet with the heading and the column-header row.
    void nextSheet() {
        sheets_.push_back(sheetName(sheets_.size()));
        sheet_ = book_.addSheet(sheets_.back());
        book_.width(sheet_, 0,
                    static_cast<lxw_col_t>(std::max<std::size_t>(headers_.size(), 1) - 1), 16);
        at_ = 0;
        if (!heading_.empty()) {
            book_.text(sheet_, at_++, 0, heading_);
        }
        if (options_.IncludeHeaders) {
            for (std::size_t c = 0; c < headers_.size(); ++c) {
                book_.text(sheet_, at_, static_cast<lxw_col_t>(c), std::string(headers_[c]));
            }
            ++at_;
        }
    }

    // The row's values, numbers as numbers; an empty cell where a sample has no conductance.
    void writeValues(const Row& row) {
        lxw_col_t c = 0;
        for (std::size_t i = 0; i < kColumns.size(); ++i) {
            const Column& column = kColumns[i];
            if (column.kind == ColumnKind::Tag || !(options_.*column.flag)) {
                continue;
            }
            const double value = column.kind == ColumnKind::Value
                                     ? values_.of(i, row.raw)
                                     : column.value(row.timeMs, row.raw);
            if (!std::isnan(value)) {
                book_.number(sheet_, at_, c, value);
            }
            ++c;
        }
    }

    // The row's tag number, and every mark of it for the Tags sheet.
    void writeTag(const RowBlock& block, const Row& row) {
        const auto marks = block.tagsOf(row);
        book_.number(sheet_, at_, tagColumn_, marks.back().number);
        for (const TagMark& mark : marks) {
            tags_.push_back({mark.number,
                             row.hasRecord() ? std::optional(row.timeMs) : std::nullopt,
                             sheets_.size() - 1, at_});
        }
    }

    // The sheet "Tags"; returns the tags it had no room for.
    std::uint64_t writeTagSheet() {
        std::uint64_t leftOut = 0;
        lxw_worksheet* tagSheet = book_.addSheet("Tags");
        const lxw_row_t tagRows = std::clamp<lxw_row_t>(gSheetRows.load(), 2, kMaxSheetRows);
        const char* const tagHeaders[] = {"Tag Number", "Time(msec)", "Time(sec)", "Sheet", "Row"};
        for (lxw_col_t c = 0; c < 5; ++c) {
            book_.text(tagSheet, 0, c, tagHeaders[c]);
            book_.width(tagSheet, c, c, columnWidth(tagHeaders[c]));
        }
        lxw_row_t r = 1;
        for (const TagPlace& tag : tags_) {
            if (r == tagRows) {
                ++leftOut;
                continue;
            }
            book_.number(tagSheet, r, 0, tag.number);
            if (tag.timeMs) {
                book_.number(tagSheet, r, 1, *tag.timeMs);
                book_.number(tagSheet, r, 2, *tag.timeMs / 1000.0);
            }
            book_.text(tagSheet, r, 3, sheets_[tag.sheet]);
            book_.number(tagSheet, r, 4, tag.row + 1.0);
            ++r;
        }
        return leftOut;
    }

    // The sheet "Epochs": the epochs CSV's fields, each a number (of the CSV's precision) or an
    // empty cell.
    void writeEpochSheet() {
        lxw_worksheet* epochSheet = book_.addSheet("Epochs");
        const std::string table = epochsCsv(facts_.epochs);
        lxw_row_t e = 0;
        for (std::size_t at = 0; at < table.size(); ++e) {
            const std::size_t end = table.find("\r\n", at);
            const std::string_view line(table.data() + at, end - at);
            lxw_col_t c = 0;
            for (std::size_t from = 0; from <= line.size(); ++c) {
                const std::size_t comma = std::min(line.find(',', from), line.size());
                const std::string field(line.substr(from, comma - from));
                if (e == 0) {
                    book_.text(epochSheet, 0, c, field);
                    book_.width(epochSheet, c, c, columnWidth(field));
                } else if (!field.empty()) {
                    book_.number(epochSheet, e, c, std::strtod(field.c_str(), nullptr));
                }
                from = comma + 1;
            }
            at = end + 2;
        }
    }

    // The sheet "Recording": what was exported.
    void writeRecordingSheet(const ExportResult& result) {
        lxw_worksheet* info = book_.addSheet("Recording");
        book_.width(info, 0, 0, 26);
        book_.width(info, 1, 1, 40);
        lxw_row_t r = 0;
        const auto line = [&](const char* item, const auto& value) {
            book_.text(info, r, 0, item);
            if constexpr (std::is_arithmetic_v<std::decay_t<decltype(value)>>) {
                book_.number(info, r, 1, static_cast<double>(value));
            } else {
                book_.text(info, r, 1, value);
            }
            ++r;
        };
        std::string columns;
        for (const std::string_view header : headers_) {
            columns.append(columns.empty() ? "" : ", ").append(header);
        }
        line("Recording", facts_.path);
        line("Records", result.recordsRead);
        line("Duration (sec)", static_cast<double>(result.recordsRead) / kSamplesPerSecond);
        book_.text(info, r, 0, "Start");
        book_.dateTime(info, r++, 1, facts_.start);
        line("Start estimated",
             facts_.estimated ? "yes: the file's time less the duration" : "no: as given");
        line("Rate", rateInWords(options_.UpdatePeriod));
        if (options_.UpdatePeriod > 0) {
            line("Rows per second", rowsPerSecond(options_.UpdatePeriod));
        }
        line("Columns", columns.empty() ? std::string("none") : columns);
        line("Rows", result.rowsWritten);
        line("Data sheets", sheets_.size());
        if (options_.IncludeTags) {
            line("Tags", tags_.size());
        }
        if (options_.IncludeConductance) {
            line("Rows without conductance", result.rowsWithoutConductance);
        }
        line("Written by", writtenBy());
    }

    const ExportOptions& options_;
    const RecordingFacts& facts_;
    const SampleValues values_;
    Workbook book_;
    const std::vector<std::string_view> headers_;
    const lxw_col_t tagColumn_;
    const std::string heading_;
    const lxw_row_t headerRows_;
    const lxw_row_t sheetRows_;
    const bool valueRows_;
    std::vector<std::string> sheets_;
    lxw_worksheet* sheet_ = nullptr;
    lxw_row_t at_;  // the next row of the current sheet
    std::vector<TagPlace> tags_;
};

}  // namespace

std::uint32_t setSheetRows(std::uint32_t rows) noexcept {
    return gSheetRows.exchange(rows);
}

std::unique_ptr<FormatWriter> workbookWriter(const std::string& path, const std::string& name,
                                             const ExportOptions& options,
                                             const RecordingFacts& facts) {
    return std::make_unique<WorkbookWriter>(path, name, options, facts);
}

}  // namespace zk::detail

#if ZK_XLSXWRITER_LINKED
extern "C" {
// The library's lxw_tmpfile, as the link renames its calls.
FILE* __wrap_lxw_tmpfile(char* tmpdir) {
    return zk::detail::libraryTempFile(tmpdir);
}
// What the library would print; this program says itself what failed and why.
void zk_library_message(const char* /*format*/, ...) {}
}
#endif

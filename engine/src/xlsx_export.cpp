// Excel workbooks, written with libxlsxwriter in its constant-memory mode: each row goes to a
// temporary file as soon as the next one starts, so memory stays flat whatever the length.
//
// Sheets: "Data" (and "Data 2", ... once a sheet is full), each with the heading and the
// column-header row when headers are on, then one row for each line of the CSV, numbers as
// numbers; "Tags", every tag mark with the row that carries it; "Recording", what was exported.

#include <dlfcn.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format_writers.hpp"
#include "zk/engine/formats.hpp"
#include "zk/engine/row.hpp"
#include "zk/engine/row_source.hpp"

namespace zk::detail {

namespace {

// The heading as the user typed it: options.heading is the CSV's line, between double quotes
// with the inner ones doubled.
std::string headingText(const std::string& line) {
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') {
        return line;
    }
    std::string text;
    for (std::size_t i = 1; i + 1 < line.size(); ++i) {
        text += line[i];
        if (line[i] == '"' && line[i + 1] == '"') {
            ++i;
        }
    }
    return text;
}

// A tag and where it went.
struct TagPlace {
    std::uint16_t number;
    std::optional<std::int32_t> timeMs;  // none for a tag before the first row
    std::size_t sheet;
    lxw_row_t row;  // from 0
};

// libxlsxwriter, loaded when the first workbook is written: with it come a zip library and a
// cryptography library whose loading would add about 2 ms to every start of the program, CSV
// exports included.
struct Xlsx {
    decltype(&::workbook_new_opt) workbook_new_opt;
    decltype(&::workbook_add_worksheet) workbook_add_worksheet;
    decltype(&::worksheet_set_column) worksheet_set_column;
    decltype(&::worksheet_write_string) worksheet_write_string;
    decltype(&::worksheet_write_number) worksheet_write_number;
    decltype(&::workbook_close) workbook_close;
    decltype(&::lxw_workbook_free) lxw_workbook_free;
    decltype(&::lxw_strerror) lxw_strerror;
};

const Xlsx& xlsx(const std::string& name) {
    static const std::optional<Xlsx> api = []() -> std::optional<Xlsx> {
        void* const library = ::dlopen(ZK_XLSXWRITER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return std::nullopt;
        }
        Xlsx a{};
        bool found = true;
        const auto load = [&](auto& function, const char* symbol) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(library, symbol));
            found = found && function != nullptr;
        };
        load(a.workbook_new_opt, "workbook_new_opt");
        load(a.workbook_add_worksheet, "workbook_add_worksheet");
        load(a.worksheet_set_column, "worksheet_set_column");
        load(a.worksheet_write_string, "worksheet_write_string");
        load(a.worksheet_write_number, "worksheet_write_number");
        load(a.workbook_close, "workbook_close");
        load(a.lxw_workbook_free, "lxw_workbook_free");
        load(a.lxw_strerror, "lxw_strerror");
        return found ? std::optional(a) : std::nullopt;
    }();
    if (!api) {
        throw Error(
            ErrorCode::OpenFailed,
            "cannot write a workbook: the library " ZK_XLSXWRITER_LIBRARY " can't be loaded", name);
    }
    return *api;
}

class Workbook {
  public:
    Workbook(const std::string& path, const std::string& name) : x_(xlsx(name)), name_(name) {
        lxw_workbook_options o{};
        o.constant_memory = LXW_TRUE;
        o.use_zip64 = LXW_FALSE;
        workbook_ = x_.workbook_new_opt(path.c_str(), &o);
        if (workbook_ == nullptr) {
            throw Error(ErrorCode::OpenFailed, "cannot create the workbook", name_);
        }
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;
    ~Workbook() {
        if (workbook_ != nullptr) {
            x_.lxw_workbook_free(workbook_);  // a failed export: nothing is written
        }
    }

    lxw_worksheet* addSheet(const std::string& sheetName) {
        lxw_worksheet* sheet = x_.workbook_add_worksheet(workbook_, sheetName.c_str());
        if (sheet == nullptr) {
            throw Error(ErrorCode::WriteFailed, "cannot add the sheet " + sheetName, name_);
        }
        return sheet;
    }

    void number(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, double value) const {
        check(x_.worksheet_write_number(sheet, row, column, value, nullptr));
    }

    void text(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column,
              const std::string& value) const {
        check(x_.worksheet_write_string(sheet, row, column, value.c_str(), nullptr));
    }

    void width(lxw_worksheet* sheet, lxw_col_t first, lxw_col_t last, double width) const {
        check(x_.worksheet_set_column(sheet, first, last, width, nullptr));
    }

    void close() {
        const lxw_error e = x_.workbook_close(std::exchange(workbook_, nullptr));
        check(e);
    }

  private:
    void check(lxw_error e) const {
        if (e != LXW_NO_ERROR) {
            throw Error(ErrorCode::WriteFailed,
                        std::string("cannot write the workbook: ") + x_.lxw_strerror(e), name_);
        }
    }

    const Xlsx& x_;
    std::string name_;
    lxw_workbook* workbook_ = nullptr;
};

std::string sheetName(std::size_t index) {
    return index == 0 ? "Data" : "Data " + std::to_string(index + 1);
}

std::string rateText(int period) {
    switch (period) {
        case 1:
            return "50 rows a second";
        case 10:
            return "5 rows a second";
        case 50:
            return "1 row a second";
        case 250:
            return "1 row every 5 seconds";
        default:
            return "1 row every " + std::to_string(period) + " samples of 20 ms";
    }
}

}  // namespace

void writeWorkbook(ByteSource& source, const std::string& path, const std::string& name,
                   const ExportOptions& options, const ProgressFn& progress,
                   const RecordingFacts& facts, ExportResult& result) {
    const SampleValues values(options);
    Workbook book(path, name);

    std::vector<std::string_view> headers;
    for (const Column& column : kColumns) {
        if (options.*column.flag) {
            headers.push_back(column.header);
        }
    }
    const auto columnOf = [&](std::string_view header) {
        return static_cast<lxw_col_t>(std::find(headers.begin(), headers.end(), header) -
                                      headers.begin());
    };
    const lxw_col_t tagColumn = columnOf("Tag Number");
    const std::string heading = options.IncludeHeaders ? headingText(options.heading) : "";
    const lxw_row_t headerRows = (options.IncludeHeaders ? 1 : 0) + (heading.empty() ? 0 : 1);
    const lxw_row_t sheetRows =
        std::clamp<lxw_row_t>(options.choices.sheetRows, headerRows + 1, kMaxSheetRows);

    std::vector<std::string> sheets;
    lxw_worksheet* sheet = nullptr;
    lxw_row_t at = sheetRows;  // the next row of the current sheet
    const auto nextSheet = [&] {
        sheets.push_back(sheetName(sheets.size()));
        sheet = book.addSheet(sheets.back());
        book.width(sheet, 0, static_cast<lxw_col_t>(std::max<std::size_t>(headers.size(), 1) - 1),
                   16);
        at = 0;
        if (!heading.empty()) {
            book.text(sheet, at++, 0, heading);
        }
        if (options.IncludeHeaders) {
            for (std::size_t c = 0; c < headers.size(); ++c) {
                book.text(sheet, at, static_cast<lxw_col_t>(c), std::string(headers[c]));
            }
            ++at;
        }
    };
    nextSheet();

    // The CSV has a line for a row with any value column, and for a row whose tag it shows.
    const bool valueRows = hasValueColumn(options);
    std::vector<TagPlace> tags;
    RowSource rows(source, options, progress, name);
    RowBlock block;
    while (rows.next(block)) {
        for (const Row& row : block.rows) {
            const bool showsTag = options.IncludeTags && row.hasTags();
            if (!showsTag && !(valueRows && row.hasRecord())) {
                continue;
            }
            if (at == sheetRows) {
                nextSheet();
            }
            if (row.hasRecord()) {
                lxw_col_t c = 0;
                const auto number = [&](double value) { book.number(sheet, at, c++, value); };
                if (options.IncludeTime) {
                    number(row.timeMs);
                }
                if (options.IncludeSeconds) {
                    number(row.timeMs / 1000.0);
                }
                if (options.IncludeData) {
                    number(row.raw);
                }
                if (options.IncludeBaseline) {
                    number(values.baseline(row.raw));
                }
                if (options.IncludeResistance) {
                    number(values.resistance(row.raw));
                }
                if (options.IncludeConductance) {
                    if (SampleValues::hasConductance(row.raw)) {
                        number(values.conductance(row.raw));
                    } else {
                        ++c;  // an empty cell
                        ++result.rowsWithoutConductance;
                    }
                }
            }
            if (showsTag) {
                const auto marks = block.tagsOf(row);
                book.number(sheet, at, tagColumn, marks.back().number);
                for (const TagMark& mark : marks) {
                    tags.push_back({mark.number,
                                    row.hasRecord() ? std::optional(row.timeMs) : std::nullopt,
                                    sheets.size() - 1, at});
                }
            }
            ++at;
            ++result.rowsWritten;
        }
    }
    result.recordsRead = rows.recordsRead();

    if (options.IncludeTags) {
        lxw_worksheet* tagSheet = book.addSheet("Tags");
        const char* const tagHeaders[] = {"Tag Number", "Time(msec)", "Time(sec)", "Sheet", "Row"};
        for (lxw_col_t c = 0; c < 5; ++c) {
            book.text(tagSheet, 0, c, tagHeaders[c]);
        }
        lxw_row_t r = 1;
        for (const TagPlace& tag : tags) {
            if (r == kMaxSheetRows) {
                ++result.tagsLeftOut;
                continue;
            }
            book.number(tagSheet, r, 0, tag.number);
            if (tag.timeMs) {
                book.number(tagSheet, r, 1, *tag.timeMs);
                book.number(tagSheet, r, 2, *tag.timeMs / 1000.0);
            }
            book.text(tagSheet, r, 3, sheets[tag.sheet]);
            book.number(tagSheet, r, 4, tag.row + 1.0);
            ++r;
        }
    }

    if (options.epochs) {
        lxw_worksheet* epochSheet = book.addSheet("Epochs");
        lxw_col_t c = 0;
        for (const char* header : kEpochColumns) {
            book.text(epochSheet, 0, c++, header);
        }
        lxw_row_t e = 1;
        const auto maybe = [&](lxw_col_t column, const auto& value) {
            if (value) {
                book.number(epochSheet, e, column, static_cast<double>(*value));
            }
        };
        for (const Epoch& epoch : facts.epochs) {
            book.number(epochSheet, e, 0, epoch.number);
            maybe(1, epoch.tag);
            book.number(epochSheet, e, 2, epoch.onsetMs / 1000.0);
            book.number(epochSheet, e, 3, static_cast<double>(epoch.durationMs) / 1000.0);
            book.number(epochSheet, e, 4, static_cast<double>(epoch.rows));
            book.number(epochSheet, e, 5, static_cast<double>(epoch.rowsWithoutContact));
            maybe(6, epoch.meanUs);
            maybe(7, epoch.minUs);
            maybe(8, epoch.maxUs);
            book.number(epochSheet, e, 9, static_cast<double>(epoch.responses));
            book.number(epochSheet, e, 10, epoch.responseAmplitudeUs);
            ++e;
        }
    }

    lxw_worksheet* info = book.addSheet("Recording");
    book.width(info, 0, 0, 26);
    book.width(info, 1, 1, 40);
    lxw_row_t r = 0;
    const auto line = [&](const char* item, const auto& value) {
        book.text(info, r, 0, item);
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(value)>>) {
            book.number(info, r, 1, static_cast<double>(value));
        } else {
            book.text(info, r, 1, std::string(value));
        }
        ++r;
    };
    std::string columns;
    for (const std::string_view header : headers) {
        columns.append(columns.empty() ? "" : ", ").append(header);
    }
    line("Recording", facts.path);
    line("Records", result.recordsRead);
    line("Duration (sec)", static_cast<double>(result.recordsRead) / 50.0);
    line("Start", formatStartTime(facts.start) +
                      (facts.estimated ? " (estimated: the file's time less the duration)" : ""));
    line("Rate", rateText(options.UpdatePeriod));
    if (options.UpdatePeriod > 0) {
        line("Rows per second", 50.0 / options.UpdatePeriod);
    }
    line("Columns", columns.empty() ? std::string("none") : columns);
    line("Rows", result.rowsWritten);
    line("Data sheets", sheets.size());
    if (options.IncludeTags) {
        line("Tags", tags.size());
    }
    if (options.IncludeConductance) {
        line("Rows without conductance", result.rowsWithoutConductance);
    }
    line("Written by", writtenBy());
    book.close();
}

}  // namespace zk::detail

// Excel workbooks, written with libxlsxwriter in its constant-memory mode: each row goes to a
// temporary file as soon as the next one starts, so memory stays flat whatever the length.
//
// Sheets: "Data" (and "Data 2", ... once a sheet is full), each with the heading and the
// column-header row when headers are on, then one row for each line of the CSV, numbers as
// numbers; "Tags", every tag mark with the row that carries it; "Recording", what was exported.

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

class Workbook {
  public:
    Workbook(const std::string& path, const std::string& name) : name_(name) {
        lxw_workbook_options o{};
        o.constant_memory = LXW_TRUE;
        o.use_zip64 = LXW_FALSE;
        workbook_ = workbook_new_opt(path.c_str(), &o);
        if (workbook_ == nullptr) {
            throw Error(ErrorCode::OpenFailed, "cannot create the workbook", name_);
        }
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;
    ~Workbook() {
        if (workbook_ != nullptr) {
            lxw_workbook_free(workbook_);  // a failed export: nothing is written
        }
    }

    lxw_worksheet* addSheet(const std::string& sheetName) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook_, sheetName.c_str());
        if (sheet == nullptr) {
            throw Error(ErrorCode::WriteFailed, "cannot add the sheet " + sheetName, name_);
        }
        return sheet;
    }

    void check(lxw_error e) const {
        if (e != LXW_NO_ERROR) {
            throw Error(ErrorCode::WriteFailed,
                        std::string("cannot write the workbook: ") + lxw_strerror(e), name_);
        }
    }

    void close() {
        const lxw_error e = workbook_close(std::exchange(workbook_, nullptr));
        check(e);
    }

  private:
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
        worksheet_set_column(sheet, 0,
                             static_cast<lxw_col_t>(std::max<std::size_t>(headers.size(), 1) - 1),
                             16, nullptr);
        at = 0;
        if (!heading.empty()) {
            book.check(worksheet_write_string(sheet, at++, 0, heading.c_str(), nullptr));
        }
        if (options.IncludeHeaders) {
            for (std::size_t c = 0; c < headers.size(); ++c) {
                book.check(worksheet_write_string(sheet, at, static_cast<lxw_col_t>(c),
                                                  std::string(headers[c]).c_str(), nullptr));
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
                const auto number = [&](double value) {
                    book.check(worksheet_write_number(sheet, at, c++, value, nullptr));
                };
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
                book.check(
                    worksheet_write_number(sheet, at, tagColumn, marks.back().number, nullptr));
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
            book.check(worksheet_write_string(tagSheet, 0, c, tagHeaders[c], nullptr));
        }
        lxw_row_t r = 1;
        for (const TagPlace& tag : tags) {
            if (r == kMaxSheetRows) {
                ++result.tagsLeftOut;
                continue;
            }
            book.check(worksheet_write_number(tagSheet, r, 0, tag.number, nullptr));
            if (tag.timeMs) {
                book.check(worksheet_write_number(tagSheet, r, 1, *tag.timeMs, nullptr));
                book.check(worksheet_write_number(tagSheet, r, 2, *tag.timeMs / 1000.0, nullptr));
            }
            book.check(worksheet_write_string(tagSheet, r, 3, sheets[tag.sheet].c_str(), nullptr));
            book.check(worksheet_write_number(tagSheet, r, 4, tag.row + 1.0, nullptr));
            ++r;
        }
    }

    lxw_worksheet* info = book.addSheet("Recording");
    worksheet_set_column(info, 0, 0, 26, nullptr);
    worksheet_set_column(info, 1, 1, 40, nullptr);
    lxw_row_t r = 0;
    const auto line = [&](const char* item, const auto& value) {
        book.check(worksheet_write_string(info, r, 0, item, nullptr));
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(value)>>) {
            book.check(worksheet_write_number(info, r, 1, static_cast<double>(value), nullptr));
        } else {
            book.check(worksheet_write_string(info, r, 1, std::string(value).c_str(), nullptr));
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
    line("Rows per second", 50.0 / options.UpdatePeriod);
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

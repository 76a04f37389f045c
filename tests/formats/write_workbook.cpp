// formats_workbook RECORDING OUTPUT.xlsx PERIOD SHEET_ROWS: writes the workbook of all seven
// columns with fewer rows per sheet than Excel's limit, so that a short recording spreads over
// several sheets for check_clients.py.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "zk/engine/export/export_file.hpp"
#include "zk/engine/formats/formats.hpp"
#include "zk/engine/recording/recording.hpp"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: formats_workbook RECORDING OUTPUT.xlsx PERIOD SHEET_ROWS\n");
        return 2;
    }
    zk::Result<zk::FileSource> source = zk::openRecording(argv[1]);
    if (!source) {
        std::fprintf(stderr, "%s\n", source.error().describe().c_str());
        return 1;
    }
    zk::ExportOptions o;
    for (const zk::Column& c : zk::kColumns) {
        o.*c.flag = true;
    }
    o.UpdatePeriod = static_cast<std::int16_t>(std::atoi(argv[3]));
    o.format = zk::OutputFormat::Xlsx;
    zk::detail::setSheetRows(static_cast<std::uint32_t>(std::atol(argv[4])));
    const zk::ExportResult r = zk::exportToFile(
        *source, {.path = argv[2], .existing = zk::OutputFile::Existing::Replace}, o);
    if (!r.ok()) {
        std::fprintf(stderr, "%s\n", r.error->describe().c_str());
        return 1;
    }
    return 0;
}

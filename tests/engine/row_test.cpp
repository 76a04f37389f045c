#include "zk/engine/row.hpp"

#include <gtest/gtest.h>

#include <string>

#include "recording_builder.hpp"

namespace zk {
namespace {

using test::columns;

struct RowCase {
    const char* name;
    ExportSettings settings;
    std::int32_t time;
    std::int32_t sample;
    const char* row;
};

TEST(AssembleRecord, ColumnsInFixedOrderWithCommasOnlyBetweenFields) {
    const RowCase cases[] = {
        {"all five", columns(true, true, true, true, true), 0, 32768, " 0, 32768,3.5, 18.02,"},
        {"time and data", columns(true, true, false, false, false), 0, 32768, " 0, 32768"},
        {"baseline and resistance", columns(false, false, true, true, false), 0, 32768,
         "3.5, 18.02"},
        {"data and tags", columns(false, true, false, false, true), 0, 32768, " 32768,"},
        {"tags only", columns(false, false, false, false, true), 0, 32768, ""},
        {"none", columns(false, false, false, false, false), 0, 32768, ""},
        {"time and tags", columns(true, false, false, false, true), 400, 1, " 400,"},
        {"baseline first", columns(false, false, true, false, false), 0, 16384, "2.0"},
        {"raw -1 reads 65535", columns(false, true, false, false, false), 0, 65535, " 65535"},
        {"negative time", columns(true, true, false, false, false), -200, 7, "-200, 7"},
        {"small resistance", columns(true, false, false, true, false), 20, 4889,
         " 20, 3.528616E-05"},
    };
    for (const auto& c : cases) {
        std::string line = "left over from an earlier row";
        Assemble_Record(line, c.settings, c.time, c.sample);
        EXPECT_EQ(line, c.row) << c.name;
    }
}

// The export's table-driven rows must equal Assemble_Record for every choice of columns.
TEST(RowTable, MatchesAssembleRecordForEveryColumnChoice) {
    const std::int32_t times[] = {0, 20, 999980, -40, 2147483647, INT32_MIN};
    const std::int32_t samples[] = {0,    1,    389,   390,   4601,  4602,  4888,  4889,
                                    5173, 5174, 32767, 32768, 36055, 65264, 65534, 65535};
    for (int mask = 0; mask < 32; ++mask) {
        const ExportSettings s = columns(mask & 1, mask & 2, mask & 4, mask & 8, mask & 16);
        const RowTable table(s);
        RowTable::Writer writer(table);
        EXPECT_EQ(table.rowsEmpty(), (mask & 15) == 0) << "mask " << mask;
        std::string expected;
        char buffer[RowTable::kMaxRowLength];
        for (const auto t : times) {
            for (const auto v : samples) {
                Assemble_Record(expected, s, t, v);
                const char* end = writer.write(buffer, t, static_cast<std::uint16_t>(v));
                ASSERT_EQ(std::string(static_cast<const char*>(buffer), end), expected)
                    << "mask " << mask << ", t " << t << ", v " << v;
            }
        }
    }
}

TEST(RowTable, EverySampleMatchesWithAllColumns) {
    const ExportSettings s = columns(true, true, true, true, true);
    const RowTable table(s);
    RowTable::Writer writer(table);
    std::string expected;
    char buffer[RowTable::kMaxRowLength];
    for (std::int32_t v = 0; v <= 65535; ++v) {
        Assemble_Record(expected, s, v * 20, v);
        const char* end = writer.write(buffer, v * 20, static_cast<std::uint16_t>(v));
        ASSERT_EQ(std::string(static_cast<const char*>(buffer), end), expected) << "v " << v;
    }
}

}  // namespace
}  // namespace zk

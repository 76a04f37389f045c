// The recording report (zkexport --info) on crafted recordings, and the response detector on
// traces with responses of known onset and amplitude.

#include "zk/engine/analyses/report.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "test_files.hpp"
#include "test_recording.hpp"
#include "zk/engine/analyses/responses.hpp"
#include "zk/engine/export/export.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/row_source.hpp"

namespace zk {
namespace {

using test::Rec;

RecordingReport reportOf(const std::string& bytes, int period = 1) {
    MemorySource source(test::bytesOf(bytes), "rec.zkd");
    auto report = reportRecording(source, period);
    EXPECT_TRUE(report.ok());
    return *report;
}

// Five good records, then `rest`, 20 ms apart unless the records say otherwise.
std::string withHead(std::vector<Rec> rest, int raw = 30000) {
    std::vector<Rec> records;
    for (int i = 0; i < 5; ++i) {
        records.push_back({20 * i, static_cast<std::uint16_t>(raw)});
    }
    records.insert(records.end(), rest.begin(), rest.end());
    return test::recordingBytes(records);
}

TEST(RecordingReport, FactsOfCraftedRecordings) {
    std::vector<Rec> noContact;
    int t = 100;
    for (const auto& [count, raw] : {std::pair{51, 4000}, {10, 40000}, {50, 0}, {3, 40000}}) {
        for (int i = 0; i < count; ++i, t += 20) {
            noContact.push_back({t, static_cast<std::uint16_t>(raw)});
        }
    }
    struct Case {
        const char* name;
        std::string bytes;
        std::function<void(const RecordingReport&)> check;
    };
    const Case cases[] = {
        {"a gap, a backward step and a standstill",
         withHead({{100, 3}, {5000, 3}, {5020, 3}, {4000, 3}, {4000, 3}, {4000, 3}, {4020, 3}}),
         [](const RecordingReport& r) {
             // Steps of +4900, -1020, 0, 0; the standstill from record 8 for 3 records.
             EXPECT_EQ(
                 std::tuple(r.irregularSteps, r.backwardSteps, r.largestStep.value().record,
                            r.largestStep->stepMs, r.firstTimeMs.value(), r.lastTimeMs.value()),
                 std::tuple(4u, 1u, 6u, 4900, 0, 4020));
             ASSERT_EQ(r.standing.size(), 1u);
             EXPECT_EQ(std::tuple(r.standing[0].firstRecord, r.standing[0].records),
                       std::tuple(8u, 3u));
         }},
        {"odd record types and a trailing partial record",
         withHead({{100, 30000, -1, 'x'}, {120, 30000, 4, 'S'}, {140, 30000, 5, 'q'}}) +
             std::string(7, 'P'),
         [](const RecordingReport& r) {
             // x and q are passed over as samples; the q record's tag counts as a marker only.
             EXPECT_EQ(
                 std::tuple(r.records, r.trailingBytes, r.recordTypes['P'], r.recordTypes['x'],
                            r.recordTypes['S'], r.samples, r.taggedRecords),
                 std::tuple(8u, 7u, 5u, 1u, 1u, 6u, 2u));
             ASSERT_EQ(r.tags.size(), 1u);
             EXPECT_EQ(r.tags[0].number, 4);
         }},
        {"tags on the first and the last record",
         test::recordingBytes(
             {{0, 30000, 1}, {20, 30000}, {40, 30000}, {60, 30000}, {80, 30000}, {100, 30000, 2}}),
         [](const RecordingReport& r) {
             ASSERT_EQ(r.tags.size(), 2u);
             EXPECT_EQ(std::tuple(r.tags[0].row, r.tags[1].row, r.tags[1].record),
                       std::tuple(0u, 5u, 5u));
         }},
        {"a recording without skin contact", withHead(std::vector<Rec>(100, Rec{0, 4888}), 100),
         [](const RecordingReport& r) {
             EXPECT_EQ(r.noContactSamples, r.samples);
             EXPECT_FALSE(r.minResistance);
             EXPECT_FALSE(r.maxConductance);
         }},
        {"no contact for 51 samples, a second and more, then for 50", withHead(noContact),
         [](const RecordingReport& r) {
             ASSERT_EQ(r.noContact.size(), 1u);
             EXPECT_EQ(
                 std::tuple(r.noContactSamples, r.noContact[0].firstRecord, r.noContact[0].records),
                 std::tuple(101u, 5u, 51u));
             EXPECT_FLOAT_EQ(*r.minResistance, Calc_Resistance(30000));
             EXPECT_FLOAT_EQ(*r.maxResistance, Calc_Resistance(40000));
         }},
        {"too short to be a recording", test::recordingBytes({{0, 1}, {20, 1}}),
         [](const RecordingReport& r) {
             EXPECT_EQ(r.verdict.value().code(), ErrorCode::NotARecording);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(reportOf(c.bytes));
    }
}

// The rows a spreadsheet shows of a text: a line ends at CR LF, at a bare CR and at LF.
std::vector<std::string> sheetRows(const std::string& text) {
    std::vector<std::string> rows(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 1 : 0;
            rows.emplace_back();
        } else {
            rows.back() += text[i];
        }
    }
    rows.pop_back();  // after the last line end
    return rows;
}

// The lines that the report names are those of the CSV: its data lines with the Tags column and
// without it (where tags marked before the first row have no line), and the rows a spreadsheet
// shows, below the heading, the column headers and the empty row of their CR CR LF.
TEST(RecordingReport, TagRowsAreTheLinesOfTheCsvWithAndWithoutTheTagsColumn) {
    using test::recordingBytes;
    // At period 10 a row every 200 ms, from the first record at or after 0 ms.
    const std::vector<Rec> early = {{-60, 1, 9}, {-40, 1, 8}, {0, 1},   {20, 1},
                                    {200, 1, 3}, {220, 1, 4}, {400, 1}, {600, 1, 5}};
    const std::pair<const char*, std::string> recordings[] = {
        {"tags before 0 ms", recordingBytes(early)},
        {"none before 0 ms",
         recordingBytes({{-40, 1}, {0, 1, 1}, {20, 1}, {200, 1, 3}, {400, 1}, {420, 1, 6}})},
        {"no row, a tag before 0 ms",
         recordingBytes({{-100, 1, 7}, {-80, 1}, {-60, 1}, {-40, 1}, {-20, 1}})},
    };
    for (const auto& [name, bytes] : recordings) {
        for (const bool tags : {false, true}) {
            for (const auto& [headers, heading] :
                 {std::pair{false, ""}, {true, ""}, {true, "\"a heading\""}}) {
                SCOPED_TRACE(std::string(name) + (tags ? ", Tags column" : "") +
                             (headers ? ", headers " : "") + heading);
                const ExportOptions options =
                    test::settingsWith(1, 1, 0, 0, tags, 10, headers, heading);
                MemorySource source(test::bytesOf(bytes), "rec.zkd");
                const auto report = reportRecording(source, options);
                ASSERT_TRUE(report.ok());
                const RecordingReport& r = *report;
                StringSink csv;
                ASSERT_TRUE(exportCsv(source, csv, options).ok());
                const std::vector<std::string> sheet = sheetRows(csv.text());
                const std::size_t headerRows = (headers ? 2 : 0) + (*heading ? 1 : 0);
                EXPECT_EQ(sheet.size(), headerRows + csvDataLines(r, tags));
                EXPECT_EQ(csvDataLines(r, false), r.rows);
                for (const ReportTag& t : r.tags) {
                    const auto line = csvDataLine(r, t, tags);
                    const auto row = csvSheetRow(r, t);
                    ASSERT_EQ(line.has_value(), row.has_value()) << t.number;
                    if (!line) {
                        EXPECT_TRUE(t.beforeFirstRow && !tags) << t.number;
                        continue;
                    }
                    EXPECT_EQ(*row, headerRows + *line);
                    ASSERT_LE(*row, sheet.size());
                    const std::string& text = sheet[*row - 1];
                    if (t.beforeFirstRow) {
                        EXPECT_EQ(text.find(','), std::string::npos) << text;  // tags alone
                    } else {
                        const int time = std::stoi(text);  // the row's Time(msec)
                        EXPECT_TRUE(time <= t.timeMs && t.timeMs < time + 200) << text;
                    }
                    // The Tags column shows the last tag of the line.
                    std::uint16_t last = t.number;
                    for (const ReportTag& u : r.tags) {
                        last = u.row == t.row ? u.number : last;
                    }
                    const std::string shown = " " + std::to_string(last);
                    EXPECT_EQ(tags && text.ends_with(shown), tags) << text;
                }
            }
        }
    }
}

// Every --info --json line is JSON that a strict parser takes, whatever the path and the message
// hold; "path_bytes" gives the path's bytes back exactly.
TEST(RecordingReport, JsonHoldsEveryPathAndMessage) {
    const std::string fffd = "\xef\xbf\xbd";
    const std::pair<std::string, std::string> cases[] = {
        // the path; as the parsed "path" reads, when not as the path itself
        {"plain.zkd", ""},
        {"quote\"back\\slash/x.zkd", ""},
        {std::string("tab\tnl\ncr\rnul\0esc\x1b del\x7f.zkd", 27), ""},
        {"messung-\xc3\xa4-\xe2\x82\xac-\xf0\x9f\x98\x80.zkd", ""},
        {"bad\xff\xfe.zkd", "bad" + fffd + fffd + ".zkd"},
        {"cut\xe2\x82.zkd", "cut" + fffd + fffd + ".zkd"},
        {"overlong\xc0\x80", "overlong" + fffd + fffd},
        {"surrogate\xed\xa0\x80", "surrogate" + fffd + fffd + fffd},
        {"beyond\xf4\x90\x80\x80", "beyond" + fffd + fffd + fffd + fffd},
        {"lone\x80", "lone" + fffd},
        {"end\xf0\x9f\x98", "end" + fffd + fffd + fffd},
    };
    for (const auto& [path, read] : cases) {
        SCOPED_TRACE(::testing::PrintToString(path));
        const std::string& shown = read.empty() ? path : read;
        RecordingReport r;
        r.path = path;
        r.verdict = Error(ErrorCode::NotARecording, "cause " + path, path);
        const std::string json = reportJson(r);
        EXPECT_EQ(json.find('\n'), std::string::npos);
        nlohmann::json j;
        ASSERT_NO_THROW(j = nlohmann::json::parse(json));
        EXPECT_EQ(j["path"], shown);
        EXPECT_EQ(j["message"], ("cause " + shown).c_str());  // a message ends at a NUL
        std::string bytes;
        const std::string hex = j["path_bytes"];
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        EXPECT_EQ(bytes, path);
    }
}

// The window's table of tags, the rate in the window's words, and what copying cells gives.
TEST(RecordingReport, TagTableRateNamesAndCopiedCells) {
    const std::string bytes =
        test::recordingBytes({{-40, 100, 9}, {0, 100}, {20, 100}, {200, 100, 3}, {220, 100, 4}});
    MemorySource source(test::bytesOf(bytes), "rec.zkd");
    const auto report = reportRecording(source, test::settingsWith(1, 1, 0, 0, false, 10));
    ASSERT_TRUE(report.ok());
    const auto table = reportTagTable(*report);
    EXPECT_EQ(table, (std::vector<std::vector<std::string>>{
                         {"Tag", "TimeMs", "Time", "CSV row"},
                         {"9", "-40", "-0:00:00.040", "none"},  // no line without Tags
                         {"3", "200", "0:00:00.200", "4"},      // below the header's 2 rows
                         {"4", "220", "0:00:00.220", "4"}}));
    const std::pair<int, const char*> rates[] = {{1, "50 per sec"},
                                                 {10, "5 per sec"},
                                                 {50, "1 sec"},
                                                 {250, "5 sec"},
                                                 {7, "one row every 7 samples (140 ms)"}};
    for (const auto& [period, name] : rates) {
        EXPECT_EQ(rateCaption(period), name);
    }
    using Cells = std::vector<std::pair<int, int>>;
    const std::pair<Cells, std::string> copies[] = {
        {{{2, 3}}, "4\n"},
        {{{2, 1}, {2, 0}}, "3\t200\n"},
        {{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}},
         "Tag\tTimeMs\tTime\tCSV row\n9\t-40\t-0:00:00.040\tnone\n"},
        {{{3, 0}, {1, 2}}, "\t\t-0:00:00.040\n\t\t\n4\t\t\n"},  // the cells between are empty
        {{{9, 9}, {-1, 0}}, ""},
    };
    for (const auto& [cells, text] : copies) {
        EXPECT_EQ(copiedCells(table, cells), text);
    }
}

// The rows with a record that the row source makes at `period`, and its tags' (record, CSV data
// row); throws where the export fails.
std::pair<std::uint64_t, std::vector<std::pair<std::uint64_t, std::uint64_t>>> exportRowsAndTags(
    const std::string& bytes, int period) {
    MemorySource source(test::bytesOf(bytes), "rec.zkd");
    RowSource rows(source, test::settingsWith(1, 1, 1, 1, 1, static_cast<std::int16_t>(period)));
    std::pair<std::uint64_t, std::vector<std::pair<std::uint64_t, std::uint64_t>>> out;
    std::uint64_t line = 0;
    for (RowBlock block; rows.next(block);) {
        for (const Row& row : block.rows) {
            for (const TagMark& tag : block.tagsOf(row)) {
                out.second.emplace_back(tag.record, line);
            }
            out.first += row.hasRecord() ? 1 : 0;
            ++line;
        }
    }
    return out;
}

// The rows with a record; where the schedule passes its end, those up to the record at fault,
// whose own row is made before (the report counts as far). None for a period out of range.
std::uint64_t exportRows(const std::string& bytes, int period) {
    try {
        return exportRowsAndTags(bytes, period).first;
    } catch (const Error& e) {
        return e.code() != ErrorCode::ScheduleOverflow
                   ? 0
                   : exportRowsAndTags(bytes.substr(0, e.offset()), period).first + 1;
    }
}

// Long recordings, so that runs of plain samples cross the report's blocks, in which the rows
// and the tags' rows must still be the export's, at every rate.
TEST(RecordingReport, LongRecordingsCountAsTheExportDoes) {
    // Records 20 ms apart from `start`, each of them changed by `edit` (which may move the
    // time `t` on which the following records build).
    using Edit = std::function<void(std::size_t i, Rec & r, std::int64_t & t)>;
    const auto build = [](std::int64_t start, std::size_t count, const Edit& edit = {}) {
        std::vector<Rec> records;
        std::int64_t t = start;
        for (std::size_t i = 0; i < count; ++i, t += 20) {
            Rec r{0, static_cast<std::uint16_t>(20000 + (i + 4500) % 9000),
                  i % 1700 == 3 ? static_cast<int>(i / 1700 + 1) : -1};
            edit ? edit(i, r, t) : void();
            r.timeMs = static_cast<std::int32_t>(t);
            records.push_back(r);
        }
        return records;
    };
    struct Case {
        const char* name;
        std::vector<Rec> records;
    };
    const Case cases[] = {
        {"steady", build(0, 40000)},
        {"starts before 0 ms", build(-3000, 40000)},
        {"a forward gap: the schedule is behind and catches up",
         build(0, 40000,
               [](std::size_t i, Rec&, std::int64_t& t) { t += i == 17000 ? 1000000 : 0; })},
        {"a step back and a standstill", build(0, 40000,
                                               [](std::size_t i, Rec&, std::int64_t& t) {
                                                   t -= i == 16390               ? 5000
                                                        : i > 30000 && i < 30004 ? 20
                                                                                 : 0;
                                               })},
        {"types change, some are passed over, stretches without contact",
         build(0, 40000,
               [](std::size_t i, Rec& r, std::int64_t&) {
                   r.type = "PSOTPx"[i / 5000 % 6];
                   r.raw = i % 7000 > 6900 ? 4000 : r.raw;
               })},
        // The schedule, 2.1e9 ms behind, catches up within the recording at the longest
        // period, then passes its limit.
        {"ends near the schedule's limit", build(INT32_MAX - 20LL * 70000, 70000)},
    };
    for (const Case& c : cases) {
        const std::string bytes = test::recordingBytes(c.records);
        std::uint64_t samples = 0, noContact = 0, irregular = 0;
        std::uint16_t low = UINT16_MAX, high = 0;
        for (std::size_t i = 1; i < c.records.size(); ++i) {
            irregular += c.records[i].timeMs - c.records[i - 1].timeMs != 20 ? 1 : 0;
        }
        for (const Rec& r : c.records) {
            if (isExportType(static_cast<std::uint8_t>(r.type))) {
                ++samples;
                noContact += r.raw <= 4888 ? 1 : 0;
                if (r.raw > 4888) {
                    low = std::min(low, r.raw);
                    high = std::max(high, r.raw);
                }
            }
        }
        for (const int period : {1, 2, 7, 10, 50, 250, kMaxUpdatePeriod, 0, -3}) {
            SCOPED_TRACE(std::string(c.name) + ", period " + std::to_string(period));
            const RecordingReport r = reportOf(bytes, period);
            EXPECT_EQ(r.rows, exportRows(bytes, period));
            for (std::size_t k = 0; k < RecordingReport::kRates.size(); ++k) {
                EXPECT_EQ(r.rowsAtRate[k], exportRows(bytes, RecordingReport::kRates[k]));
            }
            std::vector<std::pair<std::uint64_t, std::uint64_t>> reported;
            for (const ReportTag& t : r.tags) {
                reported.emplace_back(t.record, t.row);
            }
            try {
                EXPECT_EQ(reported, exportRowsAndTags(bytes, period).second);
                EXPECT_FALSE(r.verdict);
            } catch (const Error& e) {
                ASSERT_TRUE(r.verdict);
                EXPECT_EQ(r.verdict->code(), e.code());
                EXPECT_STREQ(r.verdict->what(), e.what());
            }
            EXPECT_EQ(
                std::tuple(r.samples, r.irregularSteps, r.lastTimeMs.value(), r.noContactSamples),
                std::tuple(samples, irregular, c.records.back().timeMs, noContact));
            EXPECT_FLOAT_EQ(*r.minResistance, Calc_Resistance(low));
            EXPECT_FLOAT_EQ(*r.maxResistance, Calc_Resistance(high));
            EXPECT_EQ(r.recordTypes['P'] + r.recordTypes['S'] + r.recordTypes['O'] +
                          r.recordTypes['T'] + r.recordTypes['x'],
                      c.records.size());
            EXPECT_EQ(r.recordTypes['x'], c.records.size() - samples);
        }
    }
}

// The conductance of every record of a recording, in µS.
std::vector<double> conductance(const std::string& bytes) {
    std::vector<double> g;
    for (std::size_t i = 0; i + kRecordSize <= bytes.size(); i += kRecordSize) {
        const auto rec = SampleRecord::decode(reinterpret_cast<const unsigned char*>(&bytes[i]));
        g.push_back(1000.0 / Calc_Resistance(rec.RawValue));
    }
    return g;
}

TEST(ResponseDetector, FindsPlacedResponsesAndNothingOnFlatOrDriftingTraces) {
    struct Case {
        std::vector<std::string> zkgen;  // options beyond the profile and the length
        std::vector<double> amplitudes;  // of the responses it must find, in order
    };
    const Case cases[] = {
        {{"--level", "5"}, {}},
        {{"--level", "5", "--drift", "0.05"}, {}},
        {{"--level", "5", "--drift", "-0.05"}, {}},
        {{"--level", "5", "--noise", "0.001"}, {}},
        {{"--level", "5", "--response", "10:0.2", "--response", "30:0.05"}, {0.2, 0.05}},
        {{"--level", "2", "--drift", "0.05", "--response", "20:0.02"}, {0.02}},
        {{"--level", "8", "--response", "10:1", "--response", "40:0.015"}, {1.0, 0.015}},
        {{"--level", "5", "--response", "10:0.005"}, {}},  // below the threshold
    };
    for (const Case& c : cases) {
        for (const int period : {1, 10}) {
            std::vector<std::string> args{"--profile", "flat", "--seconds", "60", "-o", "-"};
            args.insert(args.end(), c.zkgen.begin(), c.zkgen.end());
            const std::string bytes = test::runProcess(ZKGEN_PATH, args).out;
            SCOPED_TRACE(::testing::PrintToString(c.zkgen) + " period " + std::to_string(period));
            const std::vector<double> g = conductance(bytes);
            ResponseDetector detector(50.0 / period);
            for (std::size_t i = 0; i < g.size(); i += static_cast<std::size_t>(period)) {
                detector.add(g[i]);
            }
            const auto& found = detector.finish();
            ASSERT_EQ(found.size(), c.amplitudes.size());
            for (std::size_t k = 0; k < found.size(); ++k) {
                // The smoothing and the samples' resolution cost a few percent of the rise.
                EXPECT_NEAR(found[k].amplitude, c.amplitudes[k], 0.1 * c.amplitudes[k] + 0.003);
            }
        }
    }
}

TEST(ResponseDetector, ARowWithoutContactBreaksTheTrace) {
    ResponseDetector detector(5.0);
    for (int i = 0; i < 20; ++i) {
        detector.add(5.0);
    }
    detector.gap();
    for (int i = 0; i < 20; ++i) {
        detector.add(5.5);  // a new level after the gap, not a rise
    }
    EXPECT_TRUE(detector.finish().empty());
}

}  // namespace
}  // namespace zk

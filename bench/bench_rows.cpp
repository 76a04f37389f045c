// Micro-benchmarks of the export's hot path: row assembly, number texts, the row table and the
// whole export from memory. Figures are per row (or per number); see bench/README.md.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "zk/engine/export/export.hpp"
#include "zk/engine/output/byte_sink.hpp"
#include "zk/engine/recording/byte_source.hpp"
#include "zk/engine/recording/conversions.hpp"
#include "zk/engine/recording/record.hpp"
#include "zk/engine/recording/row.hpp"

namespace {

zk::ExportOptions columns(bool allFive, std::int16_t period = 1) {
    zk::ExportOptions s;
    s.UpdatePeriod = period;
    s.IncludeHeaders = true;
    s.IncludeTime = s.IncludeData = true;
    s.IncludeBaseline = s.IncludeResistance = s.IncludeTags = allFive;
    return s;
}

// Raw samples that wander over the whole range the way a sweep recording does, so that table
// look-ups and number texts see realistic variety rather than one hot entry.
const std::vector<std::uint16_t>& samples() {
    static const std::vector<std::uint16_t> values = [] {
        std::vector<std::uint16_t> v(1 << 16);
        std::uint32_t noise = 12345;
        for (std::size_t i = 0; i < v.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            const std::uint32_t tri = static_cast<std::uint32_t>((i * 37) % 131072);
            const std::uint32_t level = tri < 65536 ? tri : 131071 - tri;
            v[i] = static_cast<std::uint16_t>((level + (noise >> 26)) & 0xFFFF);
        }
        return v;
    }();
    return values;
}

// A recording of `count` records 20 ms apart with those samples and a tag every 500 records.
std::vector<unsigned char> recording(std::size_t count) {
    std::vector<unsigned char> bytes(count * zk::kRecordSize, 0);
    const auto& v = samples();
    std::uint16_t tag = 0;
    for (std::size_t i = 0; i < count; ++i) {
        zk::SampleRecord r;
        r.TimeMs = static_cast<std::int32_t>(20 * i);
        r.RawValue = v[i & 0xFFFF];
        r.RecordType = 'P';
        if (i % 500 == 499) {
            ++tag;
            r.TagMarker = 'T';
            r.TagLow = static_cast<std::uint8_t>(tag & 0xFF);
            r.TagHigh = static_cast<std::uint8_t>(tag >> 8);
        }
        r.encodeInto(bytes.data() + i * zk::kRecordSize);
    }
    return bytes;
}

// Counts the bytes and drops them: the export's own cost, without the disk.
class DiscardSink final : public zk::ByteSink {
  public:
    void write(const char* data, std::size_t count) override {
        benchmark::DoNotOptimize(data);
        bytes += count;
    }
    const std::string& name() const override { return name_; }
    std::uint64_t bytes = 0;

  private:
    std::string name_ = "(discard)";
};

// Reports the time per item (row or number) as a counter that prints like "15.6ns".
void perItem(benchmark::State& state, std::uint64_t items, const char* name = "per_row") {
    state.SetItemsProcessed(static_cast<std::int64_t>(items));
    state.counters[name] = benchmark::Counter(
        static_cast<double>(items), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---------------------------------------------------------------------------------------------

void BM_Assemble_Record(benchmark::State& state) {
    const auto settings = columns(state.range(0) != 0);
    const auto& v = samples();
    std::string line;
    std::uint64_t i = 0;
    for (auto _ : state) {
        zk::Assemble_Record(line, settings, static_cast<std::int32_t>(20 * i), v[i & 0xFFFF]);
        benchmark::DoNotOptimize(line.data());
        ++i;
    }
    perItem(state, i);
}
BENCHMARK(BM_Assemble_Record)->ArgName("all_five")->Arg(1)->Arg(0);

void BM_RowTable_write(benchmark::State& state) {
    const zk::RowTable table(columns(state.range(0) != 0));
    zk::RowTable::Writer writer(table);
    const auto& v = samples();
    // Rows go one after the other into a block, as in the export.
    std::vector<char> block(4096 * zk::RowTable::kMaxRowLength);
    std::uint64_t i = 0;
    for (auto _ : state) {
        char* out = block.data();
        for (int k = 0; k < 4096; ++k, ++i) {
            out = writer.write(out, static_cast<std::int32_t>(20 * i), v[i & 0xFFFF]);
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    perItem(state, i);
}
BENCHMARK(BM_RowTable_write)->ArgName("all_five")->Arg(1)->Arg(0);

void BM_RowTable_build(benchmark::State& state) {
    const auto settings = columns(true);
    for (auto _ : state) {
        zk::RowTable table(settings);
        benchmark::DoNotOptimize(&table);
    }
}
BENCHMARK(BM_RowTable_build)->Unit(benchmark::kMillisecond);

void BM_writeNumberField_int(benchmark::State& state) {
    // Times of a long recording: six to nine digits.
    char text[zk::kMaxNumberFieldLength];
    std::uint64_t i = 0;
    for (auto _ : state) {
        char* end = zk::writeNumberField(text, static_cast<std::int32_t>(600'000 + 20 * i));
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
        ++i;
    }
    perItem(state, i, "per_number");
}
BENCHMARK(BM_writeNumberField_int);

void BM_writeNumberField_float(benchmark::State& state) {
    // Resistances of every raw sample, from -1.58 to 1284484, exponent notation included.
    std::vector<float> values(65536);
    for (std::int32_t v = 0; v < 65536; ++v) {
        values[static_cast<std::size_t>(v)] = zk::Calc_Resistance(v);
    }
    char text[zk::kMaxNumberFieldLength];
    std::uint64_t i = 0;
    for (auto _ : state) {
        char* end = zk::writeNumberField(text, values[i & 0xFFFF]);
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
        ++i;
    }
    perItem(state, i, "per_number");
}
BENCHMARK(BM_writeNumberField_float);

// The whole export of a recording held in memory into a sink that drops the text:
// range(0) = all five columns (1) or time,data (0); range(1) = UpdatePeriod;
// range(2) = with a progress callback (1) or without (0).
void BM_Export(benchmark::State& state) {
    constexpr std::size_t kRecords = 1'000'000;
    static const std::vector<unsigned char> bytes = recording(kRecords);
    const auto settings = columns(state.range(0) != 0, static_cast<std::int16_t>(state.range(1)));
    std::uint64_t calls = 0;
    const zk::ProgressFn progress = [&calls](std::uint64_t done, std::uint64_t known) {
        calls += done <= known ? 1 : 2;
        return true;
    };
    std::uint64_t rows = 0, records = 0, outBytes = 0;
    for (auto _ : state) {
        zk::MemorySource source(bytes);
        DiscardSink sink;
        const zk::ExportResult result = state.range(2) != 0
                                            ? zk::exportCsv(source, sink, settings, progress)
                                            : zk::exportCsv(source, sink, settings);
        if (!result.ok()) {
            state.SkipWithError(result.error->describe().c_str());
            return;
        }
        rows += result.rowsWritten;
        records += result.recordsRead;
        outBytes += sink.bytes;
    }
    benchmark::DoNotOptimize(calls);
    perItem(state, rows);
    perItem(state, records, "per_record");
    state.SetItemsProcessed(static_cast<std::int64_t>(rows));
    state.SetBytesProcessed(static_cast<std::int64_t>(outBytes));
}
BENCHMARK(BM_Export)
    ->ArgNames({"all_five", "period", "progress"})
    ->Args({1, 1, 0})
    ->Args({1, 1, 1})
    ->Args({0, 1, 0})
    ->Args({0, 1, 1})
    ->Args({1, 10, 0})
    ->UseRealTime()  // the export uses a second thread: CPU time of this one would be too low
    ->Unit(benchmark::kMillisecond);

// The cost of the progress callback (and its cancel check), paired: each iteration exports
// the same recording without and with a callback, so that a change in the machine's load falls
// on both alike. Reports both times and the callback's cost in per cent.
void BM_ProgressCost(benchmark::State& state) {
    constexpr std::size_t kRecords = 1'000'000;
    static const std::vector<unsigned char> bytes = recording(kRecords);
    const auto settings = columns(state.range(0) != 0);
    std::uint64_t calls = 0;
    const zk::ProgressFn progress = [&calls](std::uint64_t done, std::uint64_t known) {
        calls += done <= known ? 1 : 2;
        return true;
    };
    const auto timeOne = [&](const zk::ProgressFn& fn) {
        zk::MemorySource source(bytes);
        DiscardSink sink;
        const auto start = std::chrono::steady_clock::now();
        const zk::ExportResult result = zk::exportCsv(source, sink, settings, fn);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (!result.ok()) {
            state.SkipWithError(result.error->describe().c_str());
        }
        return took.count();
    };
    std::vector<double> without, with;
    bool withFirst = false;
    for (auto _ : state) {
        // Which goes first alternates: the second export of a pair finds warmer caches.
        if (withFirst) {
            with.push_back(timeOne(progress));
            without.push_back(timeOne({}));
        } else {
            without.push_back(timeOne({}));
            with.push_back(timeOne(progress));
        }
        withFirst = !withFirst;
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    benchmark::DoNotOptimize(calls);
    state.counters["without_ms"] = 1e3 * median(without);
    state.counters["with_ms"] = 1e3 * median(with);
    state.counters["cost_pct"] = 100 * (median(with) / median(without) - 1);
}
BENCHMARK(BM_ProgressCost)->ArgName("all_five")->Arg(1)->Arg(0)->Iterations(101)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Micro-benchmarks of the record layer.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "record/edit_output.h"
#include "record/format.h"
#include "record/list_input.h"

namespace {

// Water levels as the level tables hold them: metres between 150 and 400
// with up to three decimals, and the missing-value mark -999.0 among them.
std::vector<float> level_values(std::size_t n) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> level(150.0f, 400.0f);
  std::vector<float> values(n);
  for (std::size_t i = 0; i < n; ++i) values[i] = i % 10 == 9 ? -999.0f : level(gen);
  return values;
}

void BM_FixedF12_3(benchmark::State& state) {
  const std::vector<float> values = level_values(4096);
  char field[12];
  for (auto _ : state) {
    for (const float v : values) {
      rec::edit_fixed(field, v, 12, 3);
      benchmark::DoNotOptimize(field);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(values.size()));
}
BENCHMARK(BM_FixedF12_3);

// A row of 999 F12.3 fields edited in place, as the writer hands a run of reals over.
void BM_FixedEachF12_3(benchmark::State& state) {
  const std::vector<float> values = level_values(999);
  std::vector<char> row(values.size() * 12);
  for (auto _ : state) {
    rec::edit_fixed_each(row.data(), 12, values.data(), 1, values.size(), 12, 3);
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(values.size()));
}
BENCHMARK(BM_FixedEachF12_3);

// One data line of the yearly level file, 999 F12.3 fields, built as a record.
void BM_RecordF12_3(benchmark::State& state) {
  static const rec::Format line("(20X,9999(F12.3))");
  std::vector<float> values = level_values(999);
  std::string out;
  out.reserve(1 << 16);
  for (auto _ : state) {
    out.clear();
    auto groups = rec::items(std::span<float>(values));
    rec::ItemCursor items(groups);
    rec::FormattedWriter writer(line, items);
    writer.next_record(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 999);
}
BENCHMARK(BM_RecordF12_3);

// A source that hands out the same record again and again.
class RepeatedRecord : public rec::RecordSource {
 public:
  explicit RepeatedRecord(std::string record) : record_(std::move(record)) {}
  bool next(std::string_view& record) override {
    record = record_;
    return true;
  }

 private:
  std::string record_;
};

// Free-form input of one line of 999 reals, as the yearly level file is loaded.
void BM_ListReadReals(benchmark::State& state) {
  static const rec::Format line("(20X,9999(F12.3))");
  std::vector<float> values = level_values(999);
  std::string text;
  {
    auto groups = rec::items(std::span<float>(values));
    rec::ItemCursor items(groups);
    rec::FormattedWriter writer(line, items);
    writer.next_record(text);
  }
  RepeatedRecord source(text);
  std::vector<float> row(999);
  for (auto _ : state) {
    auto groups = rec::input_items(std::span<float>(row));
    int status = rec::list_read(source, rec::ListSource::External, rec::ItemCursor(groups));
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(row.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 999);
}
BENCHMARK(BM_ListReadReals);

}  // namespace

BENCHMARK_MAIN();

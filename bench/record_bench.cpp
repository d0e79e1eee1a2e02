// Micro-benchmarks of the record layer.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

#include "record/edit_output.h"

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

}  // namespace

BENCHMARK_MAIN();

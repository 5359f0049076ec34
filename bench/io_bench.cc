#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "io/field_render.h"
#include "io/input_stream.h"
#include "io/list_reader.h"

namespace {

std::vector<double> report_values(std::size_t count) {
  std::mt19937_64 random(50);
  std::uniform_real_distribution<double> value(-1.0, 3.0);
  std::vector<double> values(count);
  for (double& v : values) v = value(random);
  return values;
}

void render_f9_4(benchmark::State& state) {
  auto values = report_values(4096);
  char out[tolbe::max_field_width];
  for (auto _ : state) {
    for (double v : values) benchmark::DoNotOptimize(tolbe::render_fixed(v, 9, 4, out));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(values.size()));
}
BENCHMARK(render_f9_4);

void render_f9_4_exact(benchmark::State& state) {
  auto values = report_values(4096);
  char out[tolbe::max_field_width];
  for (auto _ : state) {
    for (double v : values) benchmark::DoNotOptimize(tolbe::render_fixed_exact(v, 9, 4, out));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(values.size()));
}
BENCHMARK(render_f9_4_exact);

// The differential check of the test suite, on many more values: every
// value the short road settles must read as the exact road writes it.
void short_road_sweep(benchmark::State& state) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> exponent(-6.0, 10.0);
  char fast[tolbe::max_field_width];
  char exact[tolbe::max_field_width];
  long mismatches = 0;
  for (auto _ : state) {
    for (int i = 0; i < 100000; ++i) {
      double value = std::pow(10.0, exponent(random)) * (i % 2 ? -1.0 : 1.0);
      for (int decimals = 0; decimals <= 9; ++decimals) {
        if (tolbe::render_fixed(value, 20, decimals, fast) !=
            tolbe::render_fixed_exact(value, 20, decimals, exact)) {
          ++mismatches;
        }
      }
    }
  }
  state.counters["mismatches"] = static_cast<double>(mismatches);
  if (mismatches != 0) state.SkipWithError("the short road disagrees with the exact road");
  state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(short_road_sweep)->Iterations(20);

void read_report_numbers(benchmark::State& state) {
  std::string text;
  for (double v : report_values(2500)) text += std::to_string(v).substr(0, 7) + " ";
  text += "\n";
  for (auto _ : state) {
    tolbe::InputStream input(text);
    tolbe::ListReader reader(input);
    reader.begin_statement();
    double item = 0;
    for (int i = 0; i < 2500; ++i) reader.read(item);
    reader.end_statement();
    benchmark::DoNotOptimize(item);
  }
  state.SetItemsProcessed(state.iterations() * 2500);
}
BENCHMARK(read_report_numbers);

}  // namespace

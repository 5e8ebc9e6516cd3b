// The date-time text of the tree XML, both ways.
#include <benchmark/benchmark.h>

#include "comparer/StructStreamer.h"

namespace ormelin {
namespace {

void BM_TextToDateTime(benchmark::State& state) {
  const char* texts[] = {"2026-01-01 12-00-02", "2025-12-31 23-59-58", "2026-06-15"};
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TLoader::TextToDateTime(texts[i]));
    i = (i + 1) % 3;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextToDateTime);

void BM_DateTimeToText(benchmark::State& state) {
  TDateTime value = 46023.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TLoader::DateTimeToText(value));
    value += 2.0 / 86400.0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DateTimeToText);

}  // namespace
}  // namespace ormelin

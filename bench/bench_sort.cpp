// Ordering 100,000 names as the folder tree does: collation keys, then the
// sort of a folder's file list.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "BenchTrees.h"
#include "platform/Collation.h"

namespace ormelin {
namespace {

constexpr int kNames = 100000;

void BM_CollationKeys(benchmark::State& state) {
  const std::vector<std::string> names = BenchNames(kNames);
  for (auto _ : state) {
    for (const std::string& name : names) benchmark::DoNotOptimize(CollationKey(name));
  }
  state.SetItemsProcessed(state.iterations() * kNames);
}
BENCHMARK(BM_CollationKeys)->Unit(benchmark::kMillisecond);

void BM_SortFolderOfNames(benchmark::State& state) {
  const std::vector<std::string> names = BenchNames(kNames);
  for (auto _ : state) {
    state.PauseTiming();
    TDirectory folder;
    for (const std::string& name : names) (new TFile(&folder))->SetName(name);
    state.ResumeTiming();
    folder.Sort(false);
    benchmark::DoNotOptimize(folder.GetFile(0));
    state.PauseTiming();  // the release is not part of the sort
    folder.Clear();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kNames);
}
BENCHMARK(BM_SortFolderOfNames)->Unit(benchmark::kMillisecond);

void BM_CompareTextSort(benchmark::State& state) {
  const std::vector<std::string> names = BenchNames(kNames);
  for (auto _ : state) {
    std::vector<std::string> copy = names;
    std::sort(copy.begin(), copy.end(),
              [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * kNames);
}
BENCHMARK(BM_CompareTextSort)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ormelin

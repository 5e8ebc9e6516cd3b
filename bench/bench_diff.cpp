// BuildDiffList on 100,000 files: the disk scan of the project, reading the
// client's tree, the comparison and the task-list XML. The project folder is
// given in ORMELIN_BENCH_TREE (bench/run sets it); without it the benchmarks
// compare two in-memory trees only.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "BenchTrees.h"
#include "comparer/StructStreamer.h"
#include "comparer/Tasks.h"
#include "reference/DiffList.h"
#include "reference/TaskBuilder.h"
#include "server/usvOrmelinS.h"

namespace ormelin {
namespace {

const char* ProjectFolder() {
  return std::getenv("ORMELIN_BENCH_TREE");
}

void RunBuildDiffList(benchmark::State& state, bool level) {
  const char* folder = ProjectFolder();
  if (folder == nullptr) {
    state.SkipWithError("ORMELIN_BENCH_TREE is not set");
    return;
  }
  TZevanOrmelinS module("/nonexistent/orServer.xml");
  TorProject project("Bench", folder);
  std::string clientTree = "<tree></tree>";
  if (level) {
    TDirectory tree;
    TLoader::LoadFromDisk(folder, &tree);
    clientTree = TLoader::SaveToXML(tree);
  }
  size_t bytes = 0;
  for (auto _ : state) {
    std::string result = BuildDiffList(module, project, clientTree);
    bytes += result.size();
    benchmark::DoNotOptimize(result.data());
  }
  state.counters["reply_bytes"] =
      static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

void BM_BuildDiffListLevel(benchmark::State& state) {
  RunBuildDiffList(state, true);
}
BENCHMARK(BM_BuildDiffListLevel)->Unit(benchmark::kMillisecond);

void BM_BuildDiffListEmptyClient(benchmark::State& state) {
  RunBuildDiffList(state, false);
}
BENCHMARK(BM_BuildDiffListEmptyClient)->Unit(benchmark::kMillisecond);

void BM_LoadFromDisk(benchmark::State& state) {
  const char* folder = ProjectFolder();
  if (folder == nullptr) {
    state.SkipWithError("ORMELIN_BENCH_TREE is not set");
    return;
  }
  for (auto _ : state) {
    TDirectory tree;
    TLoader::LoadFromDisk(folder, &tree);
    benchmark::DoNotOptimize(tree.DirectoryCount());
  }
}
BENCHMARK(BM_LoadFromDisk)->Unit(benchmark::kMillisecond);

void BM_TaskBuilderInMemory(benchmark::State& state) {
  TDirectory source;
  TDirectory target;
  FillBenchTree(source, 1000, 100);
  FillBenchTree(target, 1000, 100);
  source.Sort(true);
  target.Sort(true);
  for (auto _ : state) {
    TTaskBuilder builder;
    TTaskList tasks;
    builder.Build(&source, &target, &tasks);
    benchmark::DoNotOptimize(tasks.Count());
  }
}
BENCHMARK(BM_TaskBuilderInMemory)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ormelin

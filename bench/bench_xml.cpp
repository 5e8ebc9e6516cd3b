// XML reading and writing: the directory-tree XML of 100,000 files.
#include <benchmark/benchmark.h>

#include <memory>

#include "BenchTrees.h"
#include "comparer/StructStreamer.h"
#include "comparer/TreeReader.h"
#include "comparer/orXMLParser.h"

namespace ormelin {
namespace {

const std::string& TreeXML() {
  static const std::string xml = BenchTreeXML(1000, 100);
  return xml;
}

void BM_XMLParse(benchmark::State& state) {
  const std::string& xml = TreeXML();
  for (auto _ : state) {
    TorXMLNode root;
    root.Parse(xml);
    benchmark::DoNotOptimize(root.ChildCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_XMLParse)->Unit(benchmark::kMillisecond);

void BM_LoadFromXML(benchmark::State& state) {
  const std::string& xml = TreeXML();
  for (auto _ : state) {
    TDirectory tree;
    TLoader::LoadFromXML(xml, &tree);
    benchmark::DoNotOptimize(tree.DirectoryCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_LoadFromXML)->Unit(benchmark::kMillisecond);

// The same text through the streaming reader, in pieces of the given size
// as they come from the socket.
void BM_StreamingTreeReader(benchmark::State& state) {
  const std::string& xml = TreeXML();
  const size_t piece = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    TDirectory tree;
    TStreamingTreeReader reader(&tree);
    for (size_t at = 0; at < xml.size(); at += piece)
      reader.Feed(std::string_view(xml).substr(at, piece));
    reader.Finish();
    benchmark::DoNotOptimize(tree.DirectoryCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_StreamingTreeReader)
    ->Arg(1 << 20)
    ->Arg(32 << 10)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

// Reading alone: the tree is released outside the measured time (releasing
// 100,000 entries costs about as much as reading them).
void BM_StreamingTreeReaderNoRelease(benchmark::State& state) {
  const std::string& xml = TreeXML();
  for (auto _ : state) {
    auto tree = std::make_unique<TDirectory>();
    TStreamingTreeReader reader(tree.get());
    for (size_t at = 0; at < xml.size(); at += 32768)
      reader.Feed(std::string_view(xml).substr(at, 32768));
    reader.Finish();
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}
BENCHMARK(BM_StreamingTreeReaderNoRelease)->Unit(benchmark::kMillisecond);

void BM_SaveToXML(benchmark::State& state) {
  TDirectory tree;
  FillBenchTree(tree, 1000, 100);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string xml = TLoader::SaveToXML(tree);
    bytes += xml.size();
    benchmark::DoNotOptimize(xml.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_SaveToXML)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ormelin

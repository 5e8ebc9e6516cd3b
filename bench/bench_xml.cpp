// XML reading and writing: the directory-tree XML of 100,000 files.
#include <benchmark/benchmark.h>

#include "BenchTrees.h"
#include "comparer/StructStreamer.h"
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

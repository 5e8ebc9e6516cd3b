#include "BenchTrees.h"

#include <algorithm>
#include <random>

#include "comparer/StructStreamer.h"
#include "platform/Format.h"

namespace ormelin {

void FillBenchTree(TDirectory& root, int folders, int files) {
  for (int d = 0; d < folders; ++d) {
    auto* folder = new TDirectory(&root);
    folder->SetName(Format(d % 2 ? "Mapa_%04d" : "mapa_%04d", d));
    folder->SetDateModified(46023.5);
    for (int f = 0; f < files; ++f) {
      auto* file = new TFile(folder);
      file->SetName(Format(f % 3 == 0 ? "Datoteka_%03d.txt" : "datoteka_%03d.dat", f));
      file->SetDateModified(46023.5 + f * 2.0 / 86400.0);
    }
  }
}

std::string BenchTreeXML(int folders, int files) {
  TDirectory root;
  FillBenchTree(root, folders, files);
  return TLoader::SaveToXML(root);
}

std::vector<std::string> BenchNames(int count) {
  std::vector<std::string> names;
  names.reserve(count);
  for (int i = 0; i < count; ++i) {
    names.push_back(Format(i % 3 == 0 ? "Datoteka \x9Aifra %06d.txt" : "datoteka_%06d.dat", i));
  }
  std::mt19937 random(42);
  std::shuffle(names.begin(), names.end(), random);
  return names;
}

}  // namespace ormelin

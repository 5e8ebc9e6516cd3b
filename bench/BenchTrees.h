// Synthetic folder trees for the micro-benchmarks: `folders` folders of
// `files` files each, names in mixed letter case, times two seconds apart.
#pragma once

#include <string>
#include <vector>

#include "comparer/FileStructures.h"

namespace ormelin {

void FillBenchTree(TDirectory& root, int folders, int files);
// The tree's XML as a client sends it with "Sync".
std::string BenchTreeXML(int folders, int files);
// `count` file names in a fixed shuffled order.
std::vector<std::string> BenchNames(int count);

}  // namespace ormelin

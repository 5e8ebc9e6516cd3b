// A tree of objects fixed for reading: beside each folder's lists, which
// keep the order they were filled in, the name order Sort would give them
// (stable, so names equal but for letter case keep their fill order, as in
// the packed trees). The task builder reads a frozen source in that order
// instead of sorting it, so one loaded project serves any number of
// comparisons, each seeing the project as loaded.
//
// Ownership: the tree is not owned and must outlive this and stay unchanged.
// Threading: read-only once made; any number of threads may read it.
#pragma once

#include <unordered_map>
#include <vector>

namespace ormelin {

class TDirectory;
class TFile;

class TFrozenTree {
 public:
  explicit TFrozenTree(TDirectory& root);

  TDirectory* Root() const { return root_; }
  // Whether `folder` is a folder of this tree.
  bool Holds(const TDirectory* folder) const { return orders_.count(folder) != 0; }
  // Entry `index` of the name order of `folder`, a folder of this tree;
  // EListError outside 0..count-1.
  TDirectory* SortedDirectory(const TDirectory* folder, int index) const;
  TFile* SortedFile(const TDirectory* folder, int index) const;

 private:
  struct TOrder {
    std::vector<TDirectory*> Directories;
    std::vector<TFile*> Files;
  };
  const TOrder& OrderOf(const TDirectory* folder) const;

  TDirectory* root_;
  std::unordered_map<const TDirectory*, TOrder> orders_;
};

}  // namespace ormelin

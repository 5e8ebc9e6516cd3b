#include "reference/FrozenTree.h"

#include <algorithm>

#include "comparer/FileStructures.h"
#include "platform/Exceptions.h"

namespace ormelin {

namespace {

// Entries of `count` in the order Sort gives a folder's list: the same
// stable sort over the fill order with the same comparison.
template <typename T, typename TEntryAt>
std::vector<T*> NameOrder(int count, TEntryAt entryAt) {
  std::vector<T*> order;
  order.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) order.push_back(entryAt(i));
  std::stable_sort(order.begin(), order.end(),
                   [](const T* a, const T* b) { return a->NameKey() < b->NameKey(); });
  return order;
}

template <typename T>
T* EntryAt(const std::vector<T*>& order, int index) {
  if (index < 0 || static_cast<size_t>(index) >= order.size()) RaiseListIndexError(index);
  return order[static_cast<size_t>(index)];
}

}  // namespace

TFrozenTree::TFrozenTree(TDirectory& root) : root_(&root) {
  std::vector<TDirectory*> pending{&root};
  while (!pending.empty()) {
    TDirectory* folder = pending.back();
    pending.pop_back();
    TOrder& order = orders_[folder];
    order.Directories = NameOrder<TDirectory>(folder->DirectoryCount(),
                                              [folder](int i) { return folder->GetDirectory(i); });
    order.Files =
        NameOrder<TFile>(folder->FileCount(), [folder](int i) { return folder->GetFile(i); });
    for (int i = 0; i < folder->DirectoryCount(); ++i) pending.push_back(folder->GetDirectory(i));
  }
}

const TFrozenTree::TOrder& TFrozenTree::OrderOf(const TDirectory* folder) const {
  auto found = orders_.find(folder);
  Assert(found != orders_.end(), "FrozenTree", __LINE__);
  return found->second;
}

TDirectory* TFrozenTree::SortedDirectory(const TDirectory* folder, int index) const {
  return EntryAt(OrderOf(folder).Directories, index);
}

TFile* TFrozenTree::SortedFile(const TDirectory* folder, int index) const {
  return EntryAt(OrderOf(folder).Files, index);
}

}  // namespace ormelin

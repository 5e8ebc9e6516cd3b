#include "comparer/NameTable.h"

#include <functional>
#include <new>

namespace ormelin {

namespace {

uint32_t HashOf(std::string_view name) {
  const uint64_t hash = std::hash<std::string_view>()(name);  // size_t may be 32 bits
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

TNameTable::TNameTable() : starts_{0}, slots_(16, 0) {}

TNameTable::TIndex TNameTable::Find(std::string_view name) const {
  const uint32_t hash = HashOf(name);
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const TIndex entry = slots_[slot];
    if (entry == 0) return kNone;
    if (hashes_[entry - 1] == hash && Name(entry - 1) == name) return entry - 1;
  }
}

void TNameTable::Place(TIndex id) {
  const size_t mask = slots_.size() - 1;
  size_t slot = hashes_[id] & mask;
  while (slots_[slot] != 0) slot = (slot + 1) & mask;
  slots_[slot] = id + 1;
}

TNameTable::TIndex TNameTable::Intern(std::string_view name) {
  const TIndex found = Find(name);
  if (found != kNone) return found;
  if (names_.size() + name.size() >= UINT32_MAX || hashes_.size() >= (1u << 30)) {
    throw std::bad_alloc();
  }
  const auto id = static_cast<TIndex>(hashes_.size());
  names_.append(name);
  starts_.push_back(static_cast<uint32_t>(names_.size()));
  hashes_.push_back(HashOf(name));
  if (hashes_.size() * 2 > slots_.size()) {
    slots_.assign(slots_.size() * 2, 0);
    for (TIndex each = 0; each < hashes_.size(); ++each) Place(each);
  } else {
    Place(id);
  }
  return id;
}

void TNameTable::ShrinkToFit() {
  names_.shrink_to_fit();
  starts_.shrink_to_fit();
  hashes_.shrink_to_fit();
}

}  // namespace ormelin

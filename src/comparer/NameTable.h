// Distinct names, each stored once and numbered in the order first seen:
// trees of many folders repeat the same file names over and over, and keep
// a number per entry instead of a name.
//
// Threading: Intern belongs to one thread; once nothing is interned any
// more, Find and Name are safe from any number of threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

class TNameTable {
 public:
  using TIndex = uint32_t;
  static constexpr TIndex kNone = UINT32_MAX;

  TNameTable();

  // The number of `name`, given it now if it is new. Raises std::bad_alloc
  // past four thousand million bytes or a thousand million names.
  TIndex Intern(std::string_view name);
  // The number of `name`, or kNone.
  TIndex Find(std::string_view name) const;
  std::string_view Name(TIndex id) const {
    return std::string_view(names_).substr(starts_[id], starts_[id + 1] - starts_[id]);
  }
  size_t Count() const { return hashes_.size(); }
  // Gives back what growing left spare.
  void ShrinkToFit();

 private:
  void Place(TIndex id);

  std::string names_;             // one after another
  std::vector<uint32_t> starts_;  // name n is names_[starts_[n], starts_[n + 1])
  std::vector<uint32_t> hashes_;
  std::vector<TIndex> slots_;  // open addressing: number + 1, 0 = free
};

}  // namespace ormelin

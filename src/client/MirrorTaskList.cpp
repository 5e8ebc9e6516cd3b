#include "client/MirrorTaskList.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace ormelin {
namespace {

constexpr size_t kBlockSize = 256 * 1024;
// Kinds kept once each; a list naming more kinds than that (none the
// server sends) keeps the others with each task.
constexpr size_t kMaxKinds = 16;

}  // namespace

const char* TMirrorTaskList::KnownKind(std::string_view name) {
  for (const std::string& kind : kinds_)
    if (kind == name) return kind.data();
  if (kinds_.size() >= kMaxKinds) return nullptr;
  return kinds_.emplace_back(name).data();
}

const char* TMirrorTaskList::Keep(std::string_view text) {
  if (text.empty()) return "";
  char* at = nullptr;
  if (text.size() > kBlockSize / 4) {
    // A long text has a block of its own; the current one stays in use.
    blocks_.push_back(std::make_unique<char[]>(text.size()));
    at = blocks_.back().get();
  } else {
    if (text.size() > blockFree_) {
      blocks_.push_back(std::make_unique<char[]>(kBlockSize));
      free_ = blocks_.back().get();
      blockFree_ = kBlockSize;
    }
    at = free_;
    free_ += text.size();
    blockFree_ -= text.size();
  }
  std::memcpy(at, text.data(), text.size());
  return at;
}

void TMirrorTaskList::Add(std::string_view name, std::string_view params) {
  constexpr size_t kMax = std::numeric_limits<uint32_t>::max();
  if (name.size() > kMax || params.size() > kMax) throw std::length_error("task text too long");
  TEntry entry;
  entry.Name = KnownKind(name);
  if (entry.Name == nullptr) entry.Name = Keep(name);
  entry.Params = Keep(params);
  entry.NameSize = static_cast<uint32_t>(name.size());
  entry.ParamsSize = static_cast<uint32_t>(params.size());
  entries_.push_back(entry);
}

TMirrorTask TMirrorTaskList::Get(int index) const {
  const TEntry& entry = entries_.at(static_cast<size_t>(index));
  return {std::string_view(entry.Name, entry.NameSize),
          std::string_view(entry.Params, entry.ParamsSize)};
}

void TMirrorTaskList::Clear() {
  std::vector<TEntry>().swap(entries_);
  std::vector<std::unique_ptr<char[]>>().swap(blocks_);
  free_ = nullptr;
  blockFree_ = 0;
  kinds_.clear();
}

}  // namespace ormelin

#include "comparer/FileStructures.h"

#include <algorithm>
#include <utility>

#include "platform/Collation.h"
#include "platform/Cp1250.h"

namespace ormelin {

namespace {

const char* const kUnit = "FileStructures";

// Entries are attached while still unnamed, so the key of the empty name is
// needed once per entry; the collation of the process never changes.
const std::string& EmptyNameKey() {
  static const std::string key = CollationKey("");
  return key;
}

std::string KeyOf(std::string_view name) {
  return name.empty() ? EmptyNameKey() : CollationKey(name);
}

template <typename T>
bool KeyOrder(const std::unique_ptr<T>& a, const std::unique_ptr<T>& b) {
  return a->NameKey() < b->NameKey();
}

// Releases the owning pointer of `entry` from `list` without destroying it.
// Searches from the end: callers that take entries out from the back, and
// destructors of entries just added, find theirs at once.
template <typename T>
bool ReleaseFrom(std::vector<std::unique_ptr<T>>& list, T* entry) {
  for (size_t i = list.size(); i-- > 0;) {
    if (list[i].get() == entry) {
      static_cast<void>(list[i].release());  // the caller owns the entry now
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

}  // namespace

// ---- TBaseFile ----

TBaseFile::TBaseFile(bool isDirectory) : nameKey_(EmptyNameKey()), isDirectory_(isDirectory) {}

void TBaseFile::SetName(std::string_view name) {
  SetName(name, KeyOf(name));
}

void TBaseFile::SetName(std::string_view name, const std::string& key) {
  std::string oldKey = std::move(nameKey_);
  std::string oldName = std::move(name_);
  name_.assign(name);
  nameKey_ = key;
  if (parent_ != nullptr) parent_->Rekey(*this, oldName, oldKey);
}

std::string TBaseFile::BuildFullPath() const {
  std::vector<const TBaseFile*> chain;
  for (const TBaseFile* entry = this; entry != nullptr; entry = entry->parent_)
    chain.push_back(entry);
  std::string path = chain.back()->name_;
  for (size_t i = chain.size() - 1; i-- > 0;) {
    if (path.empty() || path.back() != '\\') path += '\\';
    path += chain[i]->name_;
  }
  return path;
}

int CompareNames(const TBaseFile& a, const TBaseFile& b) {
  return a.NameKey().compare(b.NameKey());
}

// ---- TFile ----

TFile::TFile(TDirectory* parent) : TBaseFile(false) {
  if (parent != nullptr) parent->AddFile(this);
}

TFile::~TFile() {
  if (Parent() != nullptr) Parent()->RemoveFile(this);
}

// ---- TDirectory ----

TDirectory::TDirectory(TDirectory* parent) : TBaseFile(true) {
  if (parent != nullptr) {
    parent->AddDirectory(this);
  } else {
    SetName("\\");
  }
}

TDirectory::~TDirectory() {
  if (Parent() != nullptr) Parent()->RemoveDirectory(this);
  // Release the subtree without recursion: every folder is emptied before it
  // is destroyed, so its own destructor finds nothing to walk.
  std::vector<std::unique_ptr<TDirectory>> pending;
  auto drain = [&pending](TDirectory& folder) {
    for (auto& file : folder.files_) file->parent_ = nullptr;
    folder.files_.clear();
    folder.fileNames_.Clear();
    for (auto& directory : folder.directories_) {
      directory->parent_ = nullptr;
      pending.push_back(std::move(directory));
    }
    folder.directories_.clear();
    folder.directoryNames_.Clear();
  };
  drain(*this);
  while (!pending.empty()) {
    std::unique_ptr<TDirectory> folder = std::move(pending.back());
    pending.pop_back();
    drain(*folder);
  }
}

template <typename T>
bool TDirectory::TNameIndex::Holds(std::string_view name, const std::string& key,
                                   const std::vector<std::unique_ptr<T>>& entries) const {
  if (name.empty()) return Unnamed > 0;
  if (!KeysGathered) {
    for (const auto& entry : entries)
      if (!entry->Name().empty()) ++Keys[entry->NameKey()];
    KeysGathered = true;
  }
  return Keys.count(key) != 0;
}

void TDirectory::TNameIndex::Add(std::string_view name, const std::string& key) {
  if (name.empty()) {
    ++Unnamed;
  } else if (KeysGathered) {
    ++Keys[key];
  }
}

void TDirectory::TNameIndex::Drop(std::string_view name, const std::string& key) {
  if (name.empty()) {
    if (Unnamed > 0) --Unnamed;
    return;
  }
  if (!KeysGathered) return;
  auto found = Keys.find(key);
  if (found == Keys.end()) return;
  if (--found->second == 0) Keys.erase(found);
}

void TDirectory::TNameIndex::Clear() {
  Keys.clear();
  KeysGathered = false;
  Unnamed = 0;
}

void TDirectory::Rekey(TBaseFile& entry, std::string_view oldName, const std::string& oldKey) {
  TNameIndex& names = entry.isDirectory_ ? directoryNames_ : fileNames_;
  names.Drop(oldName, oldKey);
  names.Add(entry.name_, entry.nameKey_);
}

void TDirectory::AddDirectory(TDirectory* directory) {
  if (directory == nullptr) return;
  Assert(directory->parent_ == nullptr && directory != this, kUnit, __LINE__);
  if (directoryNames_.Holds(directory->Name(), directory->NameKey(), directories_)) {
    throw EDuplicateDirectoryName("Direktorij već sadrži direktorij '"_cp1250 + directory->Name() +
                                  "'");
  }
  directories_.emplace_back(directory);
  directoryNames_.Add(directory->Name(), directory->NameKey());
  directory->parent_ = this;
}

void TDirectory::AddFile(TFile* file) {
  if (file == nullptr) return;
  Assert(file->parent_ == nullptr, kUnit, __LINE__);
  if (fileNames_.Holds(file->Name(), file->NameKey(), files_)) {
    throw EDuplicateFileName("Direktorij već sadrži datoteku '"_cp1250 + file->Name() + "'");
  }
  files_.emplace_back(file);
  fileNames_.Add(file->Name(), file->NameKey());
  file->parent_ = this;
}

bool TDirectory::HasDirectory(std::string_view name) const {
  return directoryNames_.Holds(name, KeyOf(name), directories_);
}

bool TDirectory::HasFile(std::string_view name) const {
  return fileNames_.Holds(name, KeyOf(name), files_);
}

void TDirectory::RemoveDirectory(TDirectory* directory) {
  if (directory == nullptr || directory->parent_ != this) return;
  if (!ReleaseFrom(directories_, directory)) return;
  directoryNames_.Drop(directory->Name(), directory->NameKey());
  directory->parent_ = nullptr;
}

void TDirectory::RemoveFile(TFile* file) {
  if (file == nullptr || file->parent_ != this) return;
  if (!ReleaseFrom(files_, file)) return;
  fileNames_.Drop(file->Name(), file->NameKey());
  file->parent_ = nullptr;
}

void TDirectory::ClearDirectories() {
  std::vector<std::unique_ptr<TDirectory>> gone = std::move(directories_);
  directories_.clear();
  directoryNames_.Clear();
  for (auto& directory : gone) directory->parent_ = nullptr;
  // `gone` releases each folder; each destructor is iterative.
}

void TDirectory::ClearFiles() {
  std::vector<std::unique_ptr<TFile>> gone = std::move(files_);
  files_.clear();
  fileNames_.Clear();
  for (auto& file : gone) file->parent_ = nullptr;
}

void TDirectory::Clear() {
  ClearDirectories();
  ClearFiles();
}

TDirectory* TDirectory::GetDirectory(int index) const {
  if (index < 0 || index >= DirectoryCount()) RaiseListIndexError(index);
  return directories_[static_cast<size_t>(index)].get();
}

TFile* TDirectory::GetFile(int index) const {
  if (index < 0 || index >= FileCount()) RaiseListIndexError(index);
  return files_[static_cast<size_t>(index)].get();
}

void TDirectory::SortOwnLists() {
  // Stable, as the packed trees order names that compare equal: in the
  // order they were added, however many there are.
  std::stable_sort(directories_.begin(), directories_.end(), KeyOrder<TDirectory>);
  std::stable_sort(files_.begin(), files_.end(), KeyOrder<TFile>);
}

void TDirectory::Sort(bool recursive) {
  SortOwnLists();
  if (!recursive) return;
  std::vector<TDirectory*> pending;
  for (auto& directory : directories_) pending.push_back(directory.get());
  while (!pending.empty()) {
    TDirectory* current = pending.back();
    pending.pop_back();
    current->SortOwnLists();
    for (auto& directory : current->directories_) pending.push_back(directory.get());
  }
}

}  // namespace ormelin

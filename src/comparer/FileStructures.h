// The in-memory folder tree: folders (TDirectory) holding sub-folders and
// files (TFile), each entry with a name and a modification time, nothing
// else. A folder owns its whole subtree; an entry created with a parent is
// attached at once (still unnamed) and belongs to that parent from then on,
// so entries with a parent are created with `new` and never deleted by hand
// unless they are meant to leave the tree (destroying an entry detaches it).
//
// Names are compared and ordered by the locale-aware, case-ignoring
// comparison (AnsiCompareText). Each entry keeps the collation key of its
// name, computed once per name, and each folder counts the keys of its named
// files and sub-folders from the first check of a name on, so the duplicate
// checks are O(1) and sorting pays no conversion per comparison. Entries that are still unnamed
// are counted apart: a name made only of characters the collation ignores
// has the empty name's key, but it is a name, and no unnamed sibling
// collides with it. Every walk over the tree (destroying,
// sorting, full paths) is iterative: depth costs no stack.
//
// Threading: none. A tree is built, compared and destroyed by one thread;
// even HasFile and HasDirectory may fill the folder's count of keys.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"

namespace ormelin {

class TDirectory;

// "Direktorij već sadrži direktorij '%s'"
class EDuplicateDirectoryName : public Exception {
 public:
  using Exception::Exception;
};

// "Direktorij već sadrži datoteku '%s'"
class EDuplicateFileName : public Exception {
 public:
  using Exception::Exception;
};

class TBaseFile {
 public:
  TBaseFile(const TBaseFile&) = delete;
  TBaseFile& operator=(const TBaseFile&) = delete;
  virtual ~TBaseFile() = default;

  const std::string& Name() const { return name_; }
  TDateTime DateModified() const { return dateModified_; }
  // The folder whose list holds this entry, or null.
  TDirectory* Parent() const { return parent_; }

  // Plain assignment; an attached entry also moves its key in the parent's
  // duplicate index so that later checks see the new name.
  void SetName(std::string_view name);
  // SetName for a caller that already holds the name's key (CollationKey of
  // the name): a loader that keeps the keys of the names it has seen.
  void SetName(std::string_view name, const std::string& key);
  void SetDateModified(TDateTime value) { dateModified_ = value; }

  virtual std::string GetFullPath() const = 0;

  // The collation key of Name: byte order of two keys is the order of
  // AnsiCompareText of the two names, equal keys mean equal names.
  const std::string& NameKey() const { return nameKey_; }

 protected:
  explicit TBaseFile(bool isDirectory);
  // The parent's full path with a trailing backslash ensured, then Name;
  // Name alone without a parent. Walks up iteratively.
  std::string BuildFullPath() const;

 private:
  friend class TDirectory;

  std::string name_;
  std::string nameKey_;
  TDateTime dateModified_ = 0;
  TDirectory* parent_ = nullptr;
  const bool isDirectory_;
};

// Negative, zero or positive as a's name orders before, equal to or after b's.
int CompareNames(const TBaseFile& a, const TBaseFile& b);

class TFile : public TBaseFile {
 public:
  // With a parent the new file is attached at once through AddFile, while
  // its name is still empty; that may raise EDuplicateFileName, in which
  // case nothing was attached.
  explicit TFile(TDirectory* parent = nullptr);
  // Detaches itself from its parent.
  ~TFile() override;

  std::string GetFullPath() const override { return BuildFullPath(); }
};

class TDirectory : public TBaseFile {
 public:
  // Without a parent the folder is a root and is named "\". With one it is
  // attached at once through AddDirectory while still unnamed (may raise
  // EDuplicateDirectoryName, and then nothing was attached).
  explicit TDirectory(TDirectory* parent = nullptr);
  // Detaches itself from its parent and releases the whole subtree.
  ~TDirectory() override;

  // Attach an unattached entry (null: nothing). The folder owns it from then
  // on. A name already present (case ignored) raises the duplicate error and
  // leaves the tree and the entry unchanged.
  void AddDirectory(TDirectory* directory);
  void AddFile(TFile* file);

  bool HasDirectory(std::string_view name) const;
  bool HasFile(std::string_view name) const;

  // Take the entry out of its list without destroying it; the caller owns it
  // from then on. An entry that is not in the list is left alone.
  void RemoveDirectory(TDirectory* directory);
  void RemoveFile(TFile* file);

  void ClearDirectories();
  void ClearFiles();
  void Clear();  // folders first, then files

  int DirectoryCount() const { return static_cast<int>(directories_.size()); }
  int FileCount() const { return static_cast<int>(files_.size()); }
  // Raise EListError "List index out of bounds (%d)" outside 0..count-1.
  TDirectory* GetDirectory(int index) const;
  TFile* GetFile(int index) const;

  // Orders both lists by CompareNames, stably: names equal but for letter
  // case keep the order they were added in; with `recursive`, every level.
  void Sort(bool recursive);

  std::string GetFullPath() const override { return BuildFullPath(); }

 private:
  friend class TBaseFile;
  // The names of one kind of entry: how many have no name yet, and the keys
  // of the named ones. The keys are only gathered when a check first needs
  // them: trees that are loaded attach every entry unnamed, so their checks
  // never do, and they pay nothing per name.
  struct TNameIndex {
    mutable std::unordered_map<std::string, int> Keys;
    mutable bool KeysGathered = false;
    int Unnamed = 0;

    template <typename T>
    bool Holds(std::string_view name, const std::string& key,
               const std::vector<std::unique_ptr<T>>& entries) const;
    void Add(std::string_view name, const std::string& key);
    void Drop(std::string_view name, const std::string& key);
    void Clear();
  };

  void Rekey(TBaseFile& entry, std::string_view oldName, const std::string& oldKey);
  void SortOwnLists();

  std::vector<std::unique_ptr<TDirectory>> directories_;
  std::vector<std::unique_ptr<TFile>> files_;
  TNameIndex directoryNames_;
  TNameIndex fileNames_;
};

}  // namespace ormelin

#include "comparer/DiskTreeXML.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <vector>

#include "comparer/StructStreamer.h"
#include "comparer/orXMLParser.h"
#include "comparer/uorCommand.h"
#include "platform/ConfinedFolder.h"
#include "platform/FileSystem.h"
#include "platform/Mutex.h"
#include "platform/Paths.h"
#include "platform/Thread.h"

namespace ormelin {

namespace {

// One folder as the disk scan sees it: its entries in the file system's
// order and, for each sub-folder the scan enters, the sub-folder read the
// same way.
struct TScannedFolder {
  std::string Path;          // with a trailing separator
  std::string RelativePath;  // from the root in task form, "\" first and last
  const TScannedFolder* Parent = nullptr;
  int Level = 0;  // the root is level 0
  TFolderIdentity Identity;
  std::vector<TFolderEntry> Entries;  // those whose names are paths
  // Parallel to Entries: the folder read for a sub-folder entry; null for a
  // file, and for a sub-folder listed but not entered.
  std::vector<std::unique_ptr<TScannedFolder>> Children;
  std::vector<std::string> Temporaries;  // names of left-behind temporary files
};

// Reads `folder` (its path, parent and level set) of the tree at `root`.
void ReadFolder(std::string_view root, TScannedFolder& folder) {
  TFolderEnumerator enumerator(folder.Path);
  if (!enumerator.IsOpen()) return;
  folder.Identity = enumerator.Identity();
  if (folder.Parent != nullptr) {
    // The folder read must be the one its path leads to without a link: a
    // folder swapped for a link since its parent was read is left out.
    try {
      TConfinedFolder parent(root, folder.RelativePath);
      TFolderIdentity entry;
      if (!parent.Identity(parent.Name(), entry) || !(entry == folder.Identity)) return;
    } catch (const Exception&) {
      return;
    }
  }
  // A link back into one of its own ancestors is listed, not entered.
  for (const TScannedFolder* ancestor = folder.Parent; ancestor != nullptr;
       ancestor = ancestor->Parent) {
    if (ancestor->Identity == folder.Identity) return;
  }
  TFolderEntry entry;
  while (enumerator.Next(entry)) {
    if (entry.IsLink || !entry.NameIsPath || entry.Name == "." || entry.Name == "..") {
      // Left out.
    } else if (!entry.IsDirectory && IsTemporaryName(entry.Name)) {
      folder.Temporaries.push_back(std::move(entry.Name));
    } else {
      folder.Entries.push_back(std::move(entry));
    }
    entry = TFolderEntry();
  }
  folder.Children.resize(folder.Entries.size());
}

// Reads a whole tree, `threads` folders at a time.
class TParallelScan {
 public:
  TParallelScan(std::string_view path, TScannedFolder& root) : path_(path) {
    pending_.push_back(&root);
  }

  void Run(int threads) {
    std::vector<TThread> helpers;
    for (int i = 1; i < threads; ++i) {
      try {
        helpers.emplace_back([this] { Work(); }, 0, "Tree scan");
      } catch (const EThreadError&) {
        break;  // fewer threads read the same tree
      }
    }
    Work();
    for (TThread& helper : helpers) helper.Join();
    TMutexLock lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void Work() {
    while (TScannedFolder* folder = Take()) {
      std::exception_ptr failure;
      try {
        ReadFolder(path_, *folder);
        if (folder->Level < MaxScanDepth) Descend(*folder);
      } catch (...) {
        failure = std::current_exception();
      }
      Finish(*folder, failure);
    }
  }

  // The next folder to read; null once every folder is read.
  TScannedFolder* Take() {
    TMutexLock lock(mutex_);
    while (pending_.empty() && busy_ > 0) changed_.wait(lock);
    if (pending_.empty()) return nullptr;
    TScannedFolder* folder = pending_.front();
    pending_.pop_front();
    ++busy_;
    return folder;
  }

  void Finish(TScannedFolder& folder, const std::exception_ptr& failure) {
    TMutexLock lock(mutex_);
    --busy_;
    if (failure && !failure_) failure_ = failure;
    if (failure_) {
      pending_.clear();  // the scan is over
    } else {
      for (auto& child : folder.Children) {
        if (child) pending_.push_back(child.get());
      }
    }
    changed_.notify_all();
  }

  static void Descend(TScannedFolder& folder) {
    for (size_t i = 0; i < folder.Entries.size(); ++i) {
      if (!folder.Entries[i].IsDirectory) continue;
      auto child = std::make_unique<TScannedFolder>();
      child->Path = IncludeTrailingBackslash(folder.Path + folder.Entries[i].Name);
      child->RelativePath = folder.RelativePath + folder.Entries[i].Name + '\\';
      child->Parent = &folder;
      child->Level = folder.Level + 1;
      folder.Children[i] = std::move(child);
    }
  }

  const std::string path_;
  TMutex mutex_;
  std::condition_variable_any changed_;
  std::deque<TScannedFolder*> pending_ GUARDED_BY(mutex_);
  int busy_ GUARDED_BY(mutex_) = 0;
  std::exception_ptr failure_ GUARDED_BY(mutex_);
};

class TXMLWriter {
 public:
  explicit TXMLWriter(const TFormatSettings& settings) : settings_(settings) {}

  std::string Write(const TScannedFolder& root) {
    if (root.Entries.empty()) return "<tree></tree>";
    out_.reserve(Estimate(root));
    out_ += "<tree>";
    // Each folder element holds its files first, then its sub-folders, each
    // with what it holds.
    struct TFrame {
      const TScannedFolder* folder;
      size_t next;
    };
    std::vector<TFrame> stack;
    auto open = [&](const TScannedFolder& folder) {
      for (const TFolderEntry& entry : folder.Entries) {
        if (!entry.IsDirectory) Entry("file", entry, true);
      }
      stack.push_back({&folder, 0});
    };
    open(root);
    while (!stack.empty()) {
      TFrame& frame = stack.back();
      const TScannedFolder& folder = *frame.folder;
      while (frame.next < folder.Entries.size() && !folder.Entries[frame.next].IsDirectory) {
        ++frame.next;
      }
      if (frame.next >= folder.Entries.size()) {
        stack.pop_back();
        out_ += stack.empty() ? "\r\n</tree>" : "\r\n</directory>";
        continue;
      }
      const size_t i = frame.next++;
      const TScannedFolder* child = folder.Children[i].get();
      const bool empty = child == nullptr || child->Entries.empty();
      Entry("directory", folder.Entries[i], empty);
      if (!empty) open(*child);  // `frame` may dangle from here on
    }
    return std::move(out_);
  }

 private:
  // About the length of the text: every entry's name and the rest of its
  // element, a time of day included.
  static size_t Estimate(const TScannedFolder& root) {
    size_t size = 32;
    std::vector<const TScannedFolder*> pending{&root};
    while (!pending.empty()) {
      const TScannedFolder* folder = pending.back();
      pending.pop_back();
      for (size_t i = 0; i < folder->Entries.size(); ++i) {
        size += folder->Entries[i].Name.size() + 96;
        if (folder->Children[i]) pending.push_back(folder->Children[i].get());
      }
    }
    return size;
  }

  void Entry(const char* element, const TFolderEntry& entry, bool close) {
    out_ += "\r\n<";
    out_ += element;
    out_ += ">\r\n<name>";
    AppendEscapedXML(out_, TrimmedXMLText(entry.Name));
    out_ += "</name>\r\n<datemodified>";
    out_ += TLoader::DateTimeToText(entry.DateModified, settings_);
    out_ += "</datemodified>";
    if (!close) return;
    out_ += "\r\n</";
    out_ += element;
    out_ += '>';
  }

  const TFormatSettings& settings_;
  std::string out_;
};

// Removes the temporary files the scan found, each from a folder opened
// from the root part by part: a folder swapped for a link since it was read
// is refused, not followed.
void RemoveTemporaries(std::string_view root, const TScannedFolder& top) {
  std::vector<const TScannedFolder*> pending{&top};
  while (!pending.empty()) {
    const TScannedFolder* folder = pending.back();
    pending.pop_back();
    for (const auto& child : folder->Children) {
      if (child) pending.push_back(child.get());
    }
    if (folder->Temporaries.empty()) continue;
    for (const std::string& name : folder->Temporaries) {
      try {
        TConfinedFolder confined(root, folder->RelativePath + name);
        confined.DeleteFile(name);
      } catch (const Exception&) {
        // Left for the next run.
      }
    }
  }
}

}  // namespace

std::string DiskTreeToXML(std::string_view path, int threads, TTemporaryFiles temporaries,
                          const TFormatSettings& settings) {
  TScannedFolder root;
  if (DirectoryExists(path)) {
    root.Path = IncludeTrailingBackslash(path);
    // The root, "\"; assigning the literal trips GCC 12's false -Wrestrict.
    root.RelativePath.push_back('\\');
    TParallelScan(path, root).Run(std::max(threads, 1));
    if (temporaries == TTemporaryFiles::Remove) RemoveTemporaries(path, root);
  }
  return TXMLWriter(settings).Write(root);
}

}  // namespace ormelin

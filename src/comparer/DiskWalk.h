// The walk of the disk scan, for each kind of tree it fills (the tree of
// objects, the packed tree): depth first, as a recursive scan would go, but
// each folder is read whole and its enumerator closed before the walk
// descends, so that open handles stay at one however deep the tree, and the
// identities of the folders on the current path tell a link back into an
// ancestor (listed, not entered). Entries whose names cannot be written as
// a path are left out and counted in the report; folders below MaxScanDepth
// are listed, empty.
//
// The walk stays inside the folder it starts from: a link (on Windows any
// reparse point) whose target lies outside it is left out as if it were not
// there, and counted in the report. Only links are resolved: any other
// entry of a folder inside lies inside. A link to a folder inside is
// entered like any folder.
//
// The builder gives a copyable TFolder handle and two calls:
//   void Read(TFolder folder, const std::vector<TFolderEntry>& entries)
//     a folder's entries as read (those left out among them), once;
//   TFolder AddFolder(TFolder parent, const TFolderEntry& entry)
//     each sub-folder to be, in the order read, before it is entered.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "comparer/StructStreamer.h"
#include "platform/FileSystem.h"
#include "platform/PathConfinement.h"
#include "platform/Paths.h"

namespace ormelin {

// Walks the folder at `path` into `root`, whose full path in the tree
// (as "\" or "\a\") is `rootPath` and whose level is `level` (the root of
// the scan being level 0). Links stay inside `confinedTo` (empty: `path`),
// the scan's root when a walk fills in a part of its tree.
template <typename TBuilder>
void WalkDisk(std::string_view path, typename TBuilder::TFolder root, std::string rootPath,
              TBuilder& builder, TScanReport* report, int level = 0,
              std::string_view confinedTo = {}) {
  using TFolder = typename TBuilder::TFolder;
  struct TFrame {
    TFolder folder;
    std::string path;      // on disk, with a trailing separator
    std::string treePath;  // in the tree, with a trailing "\"
    TFolderIdentity identity;
    std::vector<TFolderEntry> entries;
    size_t next = 0;
  };
  std::vector<TFrame> stack;
  const TResolvedRoot walkRoot(confinedTo.empty() ? path : confinedTo);

  // Reads the folder unless it is one of the folders being walked.
  auto enter = [&stack, &builder, &walkRoot, report](TFolder folder, std::string folderPath,
                                                     std::string treePath) {
    TFrame frame{folder, std::move(folderPath), std::move(treePath), {}, {}, 0};
    TFolderEnumerator enumerator(frame.path);
    if (!enumerator.IsOpen()) return;
    frame.identity = enumerator.Identity();
    for (const TFrame& ancestor : stack) {
      if (ancestor.identity == frame.identity) return;
    }
    TFolderEntry entry;
    while (enumerator.Next(entry)) {
      if (entry.Name == "." || entry.Name == "..") continue;
      // (A link whose name is no path cannot be resolved by its name; it is
      // left out below for that.)
      if (entry.IsLink && entry.NameIsPath &&
          walkRoot.Locate(frame.path + entry.Name) != TResolvedRoot::TPlace::Inside) {
        if (report != nullptr && report->LinksOut++ == 0) {
          report->FirstLinkOut = frame.treePath + entry.Name;
        }
        continue;
      }
      frame.entries.push_back(std::move(entry));
      entry = TFolderEntry();
    }
    builder.Read(folder, frame.entries);
    stack.push_back(std::move(frame));
  };

  enter(root, IncludeTrailingBackslash(path), std::move(rootPath));
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    if (frame.next >= frame.entries.size()) {
      stack.pop_back();
      continue;
    }
    const TFolderEntry& entry = frame.entries[frame.next++];
    if (!entry.NameIsPath) {
      // Read at the path its name makes, it would be another entry's
      // content, or none.
      if (report != nullptr && report->LeftOut++ == 0) {
        report->FirstLeftOut = frame.treePath + entry.Name;
      }
      continue;
    }
    if (!entry.IsDirectory) continue;
    const TFolder child = builder.AddFolder(frame.folder, entry);
    if (stack.size() + static_cast<size_t>(level) > static_cast<size_t>(MaxScanDepth)) continue;
    std::string childPath = IncludeTrailingBackslash(frame.path + entry.Name);
    std::string childTreePath = frame.treePath + entry.Name + "\\";
    enter(child, std::move(childPath), std::move(childTreePath));  // `frame` may dangle
  }
}

}  // namespace ormelin

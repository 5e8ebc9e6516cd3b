// The directory-tree XML of a folder on disk, written straight from the
// file system: byte for byte what TLoader::SaveToXML gives for the tree that
// TLoader::LoadFromDisk reads, without building that tree. The folders are read by several threads
// at once, the text is then written in one pass. It is the client's side of a sync, where the tree
// serves only to be sent.
//
// Threading: safe from any thread; the reading threads touch only the disk
// and their own folders.
#pragma once

#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace ormelin {

// The XML of the folder at `path` as the outer element "tree" (a path that
// is no folder gives the empty tree). `threads` folders are read at once
// (at least one). Entries whose names cannot be written as a path are left
// out.
std::string DiskTreeToXML(std::string_view path, int threads,
                          const TFormatSettings& settings = DefaultFormatSettings());

}  // namespace ormelin

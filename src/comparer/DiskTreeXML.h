// The directory-tree XML of a folder on disk, written straight from the
// file system: byte for byte what TLoader::SaveToXML gives for the tree that
// TLoader::LoadFromDisk reads, without building that tree, less the links in it. The folders are
// read by several threads at once, the text is then written in one pass. It is the client's side of
// a sync, where the tree serves only to be sent.
//
// Threading: safe from any thread; the reading threads touch only the disk
// and their own folders.
#pragma once

#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace ormelin {

// What the scan does with the temporary files the client's file writing
// leaves behind when it is killed (IsTemporaryName): they are never listed,
// and removed when asked.
enum class TTemporaryFiles { Keep, Remove };

// The XML of the folder at `path` as the outer element "tree" (a path that
// is no folder gives the empty tree). `threads` folders are read at once
// (at least one). Entries whose names cannot be written as a path are left
// out, and so are links (on Windows any reparse point) with whatever they
// name: the client writes nothing through them, and the server learns
// nothing of what lies outside the folder. The temporary files are removed
// within the folder from its root's handle, never through a link.
std::string DiskTreeToXML(std::string_view path, int threads,
                          TTemporaryFiles temporaries = TTemporaryFiles::Keep,
                          const TFormatSettings& settings = DefaultFormatSettings());

}  // namespace ormelin

// Fills a folder tree from a folder on disk or from the directory-tree XML a
// client sends, writes a tree as that XML (the client's side), and owns the
// system's one text form of a date-time value ("2008-11-14 10-20-30"), used
// in that XML and in the task parameters.
//
// Directory-tree XML: one outer element of any name standing for the root
// folder; a folder element holds any number of "name" and "datemodified"
// (the last of each wins), "directory" (a sub-folder) and "file" elements;
// a file element's first "name" and first "datemodified" count. Element
// names are matched with letter case ignored; anything else is ignored.
//
// Threading: TLoader has no state. Every operation is safe from any thread
// on trees that belong to the calling thread; the scan only reads the disk.
#pragma once

#include <string>
#include <string_view>

#include "comparer/orXMLParser.h"
#include "platform/DateTime.h"

namespace ormelin {

class TDirectory;
class TFile;
struct TFolderEntry;

// Deepest folder level the disk scan enters (the root is level 0). Deeper
// folders are listed, empty. Chosen so that the XML of any scanned tree
// stays within MaxXMLDepth: below a folder element sit its files, the
// folders listed but not entered, and their "name" elements.
inline constexpr int MaxScanDepth = MaxXMLDepth - 4;

// What a disk scan left out, with nothing below them read: entries whose
// names cannot be written as a path (TFolderEntry::NameIsPath), and links
// whose targets lie outside the folder scanned.
struct TScanReport {
  int LeftOut = 0;
  std::string FirstLeftOut;  // full path in the tree, as "\a\b"
  int LinksOut = 0;
  std::string FirstLinkOut;  // the same
};

// What an element of the directory-tree XML stands for, by its name
// (locale-aware, letter case ignored).
enum class TTreeElement { Name, DateModified, Directory, File, Other };
TTreeElement ClassifyTreeElement(std::string_view name);

class TLoader {
 public:
  TLoader() = delete;

  // Clears `target`, then fills it with every entry below the folder at
  // `path` (hidden ones too), each list in the file system's order, times
  // reduced to the DOS form. A path that is no folder leaves the tree empty;
  // a folder that cannot be read gives no entries; a folder that is one of
  // its own ancestors (reached through a link) is listed but not entered.
  // The target's own name and time are kept. Entries whose names cannot be
  // written as a path, and links that lead out of the folder at `path`
  // (see WalkDisk), are left out and counted in `report` when one is
  // given. A null target is an assertion.
  static void LoadFromDisk(std::string_view path, TDirectory* target,
                           TScanReport* report = nullptr);
  // Clears `target` and reads the directory-tree XML into it. Parse errors,
  // unreadable times and duplicate unnamed entries pass to the caller with
  // the tree left partly filled. A null target is an assertion.
  static void LoadFromXML(std::string_view xml, TDirectory* target,
                          const TFormatSettings& settings = DefaultFormatSettings());
  // The tree as directory-tree XML: outer element "tree", the root's name
  // only when it is not "\" and its time only when set; every entry below
  // with "name" and "datemodified". LoadFromXML of the result rebuilds the
  // tree (names lose leading and trailing blanks, as all XML text does).
  static std::string SaveToXML(const TDirectory& directory,
                               const TFormatSettings& settings = DefaultFormatSettings());

  // Scans the folder at `path` into `folder` and everything below it.
  static void ScanFolder(std::string_view path, TDirectory* folder, TScanReport* report = nullptr);
  // Turns one enumerated entry into a tree entry of `folder`: a TFile, or a
  // TDirectory that is returned so that the caller can scan it next (null
  // for a file).
  static TDirectory* AddFoundEntry(const TFolderEntry& entry, TDirectory* folder);

  // Applies a folder element (and, iteratively, every element below it).
  static void ReadDirectoryNode(TDirectory* folder, const TorXMLNode* node,
                                const TFormatSettings& settings = DefaultFormatSettings());
  static void ReadFileNode(TFile* file, const TorXMLNode* node,
                           const TFormatSettings& settings = DefaultFormatSettings());

  // "yyyy-mm-dd", then, unless the time of day is 0:00:00, a blank and the
  // time in the locale's long time layout with "-" separators: hours with or
  // without a leading zero as the locale writes them, two-digit minutes and
  // seconds, and the AM/PM designator where the locale puts it.
  static std::string DateTimeToText(TDateTime value,
                                    const TFormatSettings& settings = DefaultFormatSettings());
  // Reads a date ("y-m-d", or "m-d" of the current year) optionally followed
  // by a time ("h[-n[-s[<decimal separator>ms]]]" with an optional AM/PM
  // designator before or after), or a time alone; blanks may stand before
  // every part. Raises EConvertError "'%s' is not a valid date and time".
  static TDateTime TextToDateTime(std::string_view text,
                                  const TFormatSettings& settings = DefaultFormatSettings());
};

}  // namespace ormelin

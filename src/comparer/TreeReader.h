// Reads the directory-tree XML a client sends straight into a folder tree
// while its bytes arrive: no node document is built and the text is never
// held whole. It reads exactly what TLoader::LoadFromXML reads (that stays
// the reader of the configuration file and the reference for the tests): the
// same lenient syntax and entities, the same "name" and "datemodified" rules,
// the same unnamed-sibling collisions and depth limit, and the same error for
// the same text. Where the text holds several faults, the one reported is the
// one LoadFromXML reports: a syntax error anywhere comes before an error of
// the tree (an unreadable time, a second unnamed sibling), and of those the
// first in document order counts.
//
// Bytes may come split anywhere, down to one at a time. What the reader keeps
// is the open elements' names and the text of the one "name" or
// "datemodified" element being read (text of any other element is skipped).
// Into a TDirectory it also keeps the collation keys of up to 65,536 names
// it has read, for names that recur.
//
// Threading: a reader and its tree belong to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace ormelin {

class TDirectory;

// What the reader builds: a folder tree of some form. Entries are added
// unnamed and named later, as TDirectory's are, and adding one may raise
// what TDirectory::AddDirectory and AddFile raise for a second unnamed
// sibling. A handle names an entry of the tree for the builder.
class TTreeBuilder {
 public:
  using THandle = uintptr_t;

  virtual ~TTreeBuilder() = default;
  virtual THandle Root() = 0;
  virtual THandle AddFolder(THandle parent) = 0;
  virtual THandle AddFile(THandle parent) = 0;
  virtual void SetFolderName(THandle folder, const std::string& name) = 0;
  virtual void SetFolderDate(THandle folder, TDateTime date) = 0;
  virtual void SetFileName(THandle file, const std::string& name) = 0;
  virtual void SetFileDate(THandle file, TDateTime date) = 0;
};

class TStreamingTreeReader {
 public:
  // Clears `target` and reads into it; the target must outlive the reader.
  // A null target is an assertion, as for LoadFromXML.
  explicit TStreamingTreeReader(TDirectory* target,
                                const TFormatSettings& settings = DefaultFormatSettings());
  // Reads into `builder`, which must outlive the reader.
  explicit TStreamingTreeReader(TTreeBuilder& builder,
                                const TFormatSettings& settings = DefaultFormatSettings());
  ~TStreamingTreeReader();
  TStreamingTreeReader(const TStreamingTreeReader&) = delete;
  TStreamingTreeReader& operator=(const TStreamingTreeReader&) = delete;

  // Reads the next bytes. Never raises: a syntax error (or a lack of memory)
  // is kept and what follows it ignored; after an error of the tree the rest
  // is only read for its syntax, which may still change the error reported.
  // Finish raises what was kept.
  void Feed(std::string_view bytes);
  // Ends the text as LoadFromXML ends it (a trailing run and an unfinished
  // tag are dropped, open elements count as closed) and raises what reading
  // it raised. The tree is complete when it returns; after a failure it is
  // left partly filled, for the caller to destroy. Called once.
  void Finish();

  // True once the text is known to fail whatever follows.
  bool Failed() const { return failure_ != nullptr; }

 private:
  // What an open element means to the tree.
  enum class TRole : uint8_t {
    Folder,      // the outer element, or a "directory" child of a folder
    File,        // a "file" child of a folder
    FolderName,  // text roles: "name"/"datemodified" of a folder, and the
    FolderDate,  // first "name"/"datemodified" of a file
    FileName,
    FileDate,
    Ignored,  // anything else, and everything below a text role
  };
  using THandle = TTreeBuilder::THandle;
  struct TFrame {
    TRole Role;
    bool NameSeen;       // File: its first "name" child has come
    bool DateSeen;       // File: its first "datemodified" child has come
    uint32_t NameStart;  // the element's name in names_
    THandle Entry;       // the folder or file the element stands for or names
  };

  static bool IsTextRole(TRole role);
  void Consume(const char* data, const char* end);
  void Run(std::string_view run);
  void Tag(std::string_view tag);
  void OpenRoot(std::string_view name);
  // A child of the innermost open element; `selfClosing` leaves it closed.
  void OpenChild(std::string_view name, bool selfClosing);
  void Close();
  // The effect of a text role on the tree, when its text is complete.
  void Apply(const TFrame& frame);
  std::string_view TopName() const;
  [[noreturn]] void SyntaxError(std::string message);

  std::unique_ptr<TTreeBuilder> ownBuilder_;  // the one for a TDirectory target
  TTreeBuilder& builder_;
  const TFormatSettings settings_;
  std::vector<TFrame> open_;  // innermost last; empty when no element is open
  std::string names_;         // the open elements' names, one after another
  std::string text_;          // the text of the open text role, trimmed
  std::string pending_;       // a tag or collected run cut by a chunk's end
  bool inTag_ = false;
  // A syntax error (or a lack of memory): final, reported whatever else
  // the text holds.
  std::exception_ptr failure_;
  // The first error of the tree: reported unless a syntax error follows.
  std::exception_ptr treeError_;
};

}  // namespace ormelin

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
// is the open elements' names, the text of the one "name" or "datemodified"
// element being read (text of any other element is skipped), and the
// collation keys of up to 65,536 names it has read, for names that recur.
//
// Threading: a reader and its tree belong to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Streams.h"

namespace ormelin {

class TDirectory;
class TFile;

class TStreamingTreeReader {
 public:
  // Clears `target` and reads into it; the target must outlive the reader.
  // A null target is an assertion, as for LoadFromXML.
  explicit TStreamingTreeReader(TDirectory* target,
                                const TFormatSettings& settings = DefaultFormatSettings());
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
  struct TFrame {
    TRole Role;
    bool NameSeen;       // File: its first "name" child has come
    bool DateSeen;       // File: its first "datemodified" child has come
    uint32_t NameStart;  // the element's name in names_
    TDirectory* Folder;  // Folder, FolderName, FolderDate
    TFile* File;         // File, FileName, FileDate
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
  // The collation key of a name, from the keys of names already read where
  // it is one of them: most names recur in many folders.
  const std::string& NameKey(const std::string& name);

  struct TNameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  TDirectory* target_;
  const TFormatSettings settings_;
  std::vector<TFrame> open_;  // innermost last; empty when no element is open
  std::string names_;         // the open elements' names, one after another
  std::string text_;          // the text of the open text role, trimmed
  std::string pending_;       // a tag or collected run cut by a chunk's end
  std::unordered_map<std::string, std::string, TNameHash, std::equal_to<>> keys_;
  bool inTag_ = false;
  // A syntax error (or a lack of memory): final, reported whatever else
  // the text holds.
  std::exception_ptr failure_;
  // The first error of the tree: reported unless a syntax error follows.
  std::exception_ptr treeError_;
};

// A stream whose written bytes go to a reader, for code that receives into a
// stream: what the stream holds is only the count of bytes written.
class TTreeReaderStream : public TStream {
 public:
  explicit TTreeReaderStream(TStreamingTreeReader& reader) : reader_(reader) {}

  int64_t Size() const override { return written_; }
  int64_t Position() const override { return written_; }
  void SetPosition(int64_t) override {}
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override;
  // The bytes are read as they come; a stream cut back keeps what was read.
  void SetSize(int64_t) override {}

 private:
  TStreamingTreeReader& reader_;
  int64_t written_ = 0;
};

}  // namespace ormelin

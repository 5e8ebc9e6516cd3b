#include "comparer/TreeReader.h"

#include <cstring>
#include <unordered_map>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "comparer/orXMLParser.h"
#include "platform/Collation.h"
#include "platform/Cp1250.h"
#include "platform/Exceptions.h"

namespace ormelin {

namespace {

// The assertion LoadFromXML makes on a missing target.
const char* const kUnit = "StructStreamer";
const int kXMLAssertLine = 118;

// How many names' keys a reader keeps at most.
constexpr size_t kMaxKeptKeys = 65536;

const char* Find(const char* from, const char* end, char c) {
  return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(end - from)));
}

// Builds a TDirectory, keeping the keys of the names it has read: most
// names recur in many folders.
class TDirectoryBuilder : public TTreeBuilder {
 public:
  explicit TDirectoryBuilder(TDirectory* target) : target_(target) {
    Assert(target != nullptr, kUnit, kXMLAssertLine);
    target->Clear();
  }

  THandle Root() override { return Handle(target_); }
  THandle AddFolder(THandle parent) override {
    return Handle(new TDirectory(Folder(parent)));  // owned by the parent
  }
  THandle AddFile(THandle parent) override {
    return Handle(new TFile(Folder(parent)));  // owned by the parent
  }
  void SetFolderName(THandle folder, const std::string& name) override {
    Folder(folder)->SetName(name, NameKey(name));
  }
  void SetFolderDate(THandle folder, TDateTime date) override {
    Folder(folder)->SetDateModified(date);
  }
  void SetFileName(THandle file, const std::string& name) override {
    File(file)->SetName(name, NameKey(name));
  }
  void SetFileDate(THandle file, TDateTime date) override { File(file)->SetDateModified(date); }

 private:
  static THandle Handle(const void* entry) { return reinterpret_cast<THandle>(entry); }
  // The handles are the entries' addresses, made by Handle above.
  static TDirectory* Folder(THandle handle) {
    return reinterpret_cast<TDirectory*>(handle);  // NOLINT(performance-no-int-to-ptr)
  }
  static TFile* File(THandle handle) {
    return reinterpret_cast<TFile*>(handle);  // NOLINT(performance-no-int-to-ptr)
  }

  const std::string& NameKey(const std::string& name) {
    auto found = keys_.find(std::string_view(name));
    if (found != keys_.end()) return found->second;
    // A tree of names that never recur would otherwise keep them all twice.
    if (keys_.size() >= kMaxKeptKeys) keys_.clear();
    return keys_.emplace(name, CollationKey(name)).first->second;
  }

  struct TNameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  TDirectory* target_;
  std::unordered_map<std::string, std::string, TNameHash, std::equal_to<>> keys_;
};

}  // namespace

TStreamingTreeReader::TStreamingTreeReader(TDirectory* target, const TFormatSettings& settings)
    : ownBuilder_(std::make_unique<TDirectoryBuilder>(target)),
      builder_(*ownBuilder_),
      settings_(settings) {}

TStreamingTreeReader::TStreamingTreeReader(TTreeBuilder& builder, const TFormatSettings& settings)
    : builder_(builder), settings_(settings) {}

TStreamingTreeReader::~TStreamingTreeReader() = default;

bool TStreamingTreeReader::IsTextRole(TRole role) {
  return role == TRole::FolderName || role == TRole::FolderDate || role == TRole::FileName ||
         role == TRole::FileDate;
}

void TStreamingTreeReader::Feed(std::string_view bytes) {
  if (failure_ || bytes.empty()) return;
  try {
    Consume(bytes.data(), bytes.data() + bytes.size());
  } catch (...) {
    failure_ = std::current_exception();
    pending_.clear();
  }
}

void TStreamingTreeReader::Consume(const char* p, const char* end) {
  while (p < end) {
    if (!inTag_) {
      // Text: only that of a text role is kept, and a run is only complete
      // at the next "<".
      const bool collect = !open_.empty() && IsTextRole(open_.back().Role);
      const char* lt = Find(p, end, '<');
      if (lt == nullptr) {
        if (collect) pending_.append(p, static_cast<size_t>(end - p));
        return;
      }
      if (collect) {
        if (pending_.empty()) {
          Run(std::string_view(p, static_cast<size_t>(lt - p)));
        } else {
          pending_.append(p, static_cast<size_t>(lt - p));
          Run(pending_);
          pending_.clear();
        }
      }
      p = lt + 1;
      inTag_ = true;
    } else {
      const char* gt = Find(p, end, '>');
      if (Find(p, gt != nullptr ? gt : end, '<') != nullptr)
        SyntaxError("Početak taga u tagu"_cp1250);
      if (gt == nullptr) {
        pending_.append(p, static_cast<size_t>(end - p));
        return;
      }
      if (pending_.empty()) {
        if (gt > p) Tag(std::string_view(p, static_cast<size_t>(gt - p)));
      } else {
        pending_.append(p, static_cast<size_t>(gt - p));
        Tag(pending_);
        pending_.clear();
      }
      p = gt + 1;
      inTag_ = false;
    }
  }
}

void TStreamingTreeReader::Run(std::string_view run) {
  AppendXMLTextRun(text_, run);
}

void TStreamingTreeReader::Tag(std::string_view tag) {
  if (tag.back() == '/') {
    const std::string_view name = tag.substr(0, tag.size() - 1);
    if (open_.empty()) {
      OpenRoot(name);
    } else {
      OpenChild(name, true);
    }
  } else if (tag.front() == '/') {
    if (open_.empty())
      SyntaxError("Zatvarajući tag "_cp1250 + std::string(tag) + " bez otvorenog taga");
    if (tag.substr(1) != TopName())
      SyntaxError("Tag " + std::string(TopName()) + " završava na tag "_cp1250 + std::string(tag));
    Close();
  } else if (open_.empty()) {
    OpenRoot(tag);
  } else {
    OpenChild(tag, false);
  }
}

void TStreamingTreeReader::OpenRoot(std::string_view name) {
  // The outer element is the root folder, whatever its name; one that opens
  // after the first has closed adds to the same folder.
  names_.assign(name);
  open_.push_back({TRole::Folder, false, false, 0, builder_.Root()});
}

void TStreamingTreeReader::OpenChild(std::string_view name, bool selfClosing) {
  if (open_.size() >= static_cast<size_t>(MaxXMLDepth))
    SyntaxError("Dokument je ugniježđen dublje od "_cp1250 + std::to_string(MaxXMLDepth) +
                " razina");
  TFrame& parent = open_.back();
  TFrame child{TRole::Ignored, false, false, static_cast<uint32_t>(names_.size()), 0};
  // After an error of the tree nothing more is built: only the syntax of the
  // rest is still read.
  if (!treeError_ && parent.Role == TRole::Folder) {
    try {
      switch (ClassifyTreeElement(name)) {
        case TTreeElement::Name:
          child.Role = TRole::FolderName;
          child.Entry = parent.Entry;
          break;
        case TTreeElement::DateModified:
          child.Role = TRole::FolderDate;
          child.Entry = parent.Entry;
          break;
        case TTreeElement::Directory:
          child.Entry = builder_.AddFolder(parent.Entry);
          child.Role = TRole::Folder;
          break;
        case TTreeElement::File:
          child.Entry = builder_.AddFile(parent.Entry);
          child.Role = TRole::File;
          break;
        case TTreeElement::Other:
          break;
      }
    } catch (...) {
      treeError_ = std::current_exception();
    }
  } else if (!treeError_ && parent.Role == TRole::File && !(parent.NameSeen && parent.DateSeen)) {
    // Only a file's first "name" and first "datemodified" count.
    const TTreeElement kind = ClassifyTreeElement(name);
    if (kind == TTreeElement::Name && !parent.NameSeen) {
      parent.NameSeen = true;
      child.Role = TRole::FileName;
      child.Entry = parent.Entry;
    } else if (kind == TTreeElement::DateModified && !parent.DateSeen) {
      parent.DateSeen = true;
      child.Role = TRole::FileDate;
      child.Entry = parent.Entry;
    }
  }
  if (IsTextRole(child.Role)) text_.clear();
  if (selfClosing) {
    Apply(child);  // with its empty text
    return;
  }
  names_.append(name);
  open_.push_back(child);
}

void TStreamingTreeReader::Close() {
  const TFrame frame = open_.back();
  open_.pop_back();
  names_.resize(frame.NameStart);
  Apply(frame);
}

void TStreamingTreeReader::Apply(const TFrame& frame) {
  if (treeError_) return;
  try {
    switch (frame.Role) {
      case TRole::FolderName:
        builder_.SetFolderName(frame.Entry, text_);
        break;
      case TRole::FolderDate:
        builder_.SetFolderDate(frame.Entry, TLoader::TextToDateTime(text_, settings_));
        break;
      case TRole::FileName:
        builder_.SetFileName(frame.Entry, text_);
        break;
      case TRole::FileDate:
        builder_.SetFileDate(frame.Entry, TLoader::TextToDateTime(text_, settings_));
        break;
      case TRole::Folder:
      case TRole::File:
      case TRole::Ignored:
        break;
    }
  } catch (...) {
    treeError_ = std::current_exception();
  }
}

std::string_view TStreamingTreeReader::TopName() const {
  return std::string_view(names_).substr(open_.back().NameStart);
}

void TStreamingTreeReader::SyntaxError(std::string message) {
  throw EXMLError(std::move(message));
}

void TStreamingTreeReader::Finish() {
  if (failure_) std::rethrow_exception(failure_);
  // Open elements count as closed, with the text they hold; a text role can
  // only be the innermost of them that is not ignored.
  for (const TFrame& frame : open_) Apply(frame);
  open_.clear();
  names_.clear();
  pending_.clear();
  inTag_ = false;
  if (treeError_) std::rethrow_exception(treeError_);
}

}  // namespace ormelin

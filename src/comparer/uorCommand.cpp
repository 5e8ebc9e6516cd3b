#include "comparer/uorCommand.h"

#include <atomic>
#include <mutex>
#include <random>

#include "comparer/StructStreamer.h"
#include "platform/Cp1250.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Mutex.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {
namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::atomic<TorClientConnection*> gClientConnection{nullptr};
TMutex gClientConnectionUse;  // held for one whole remote fetch

// A name for a temporary file that no other writer picks.
std::string TemporaryName() {
  static std::atomic<unsigned> counter{0};
  static const unsigned long long seed = [] {
    std::random_device device;
    return (static_cast<unsigned long long>(device()) << 32) ^ device();
  }();
  return Format(".ormelin-%016llx-%u.tmp", seed, counter.fetch_add(1));
}

// The task path's part up to its last separator, that included.
std::string ParentPath(std::string_view path) {
  const size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? std::string_view()
                                                     : path.substr(0, slash + 1));
}

}  // namespace

// ---- client connection ----

namespace {

// One file from the server through the file commands' connection: the
// request, its reply and the whole stream, with no other fetch between.
void FetchFromServer(const std::string& project, std::string_view path, TStream& stream)
    REQUIRES(gClientConnectionUse) {
  TorClientConnection* connection = ClientConnection();
  if (connection == nullptr) {
    throw ENoClientConnection("Veza s poslužiteljem nije uspostavljena"_cp1250);
  }
  TorReply reply = connection->SendCommand(GetFileCommandLine(project, path));
  if (reply.Code != kReplyGetFileStarted.Code) throw EServerReplyError(reply.Code, reply.Text);
  connection->ReceiveStream(stream);
}

}  // namespace

void SetClientConnection(TorClientConnection* connection) {
  gClientConnection = connection;
}
TorClientConnection* ClientConnection() {
  return gClientConnection;
}

// ---- parameters and paths ----

std::vector<std::string> ReadDelimitedText(std::string_view text) {
  std::vector<std::string> items;
  size_t i = 0;
  const size_t n = text.size();
  auto skip = [&] {
    while (i < n && IsBlankOrControl(text[i])) ++i;
  };
  skip();
  if (i == n) return items;
  for (;;) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(text[i++]);
      }
    } else {
      while (i < n && text[i] != ',' && !IsBlankOrControl(text[i])) item.push_back(text[i++]);
    }
    items.push_back(std::move(item));
    skip();
    if (i < n && text[i] == ',') {
      ++i;
      skip();
      if (i == n) {
        items.emplace_back();
        break;
      }
      continue;
    }
    if (i == n) break;
  }
  return items;
}

std::string TaskFullPath(std::string_view root, std::string_view path) {
  bool valid = !path.empty() && (path[0] == '\\' || path[0] == '/') &&
               path.find('\0') == std::string_view::npos;
  bool named = false;
  size_t start = 0;
  while (valid && start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "..") valid = false;
    if (!part.empty() && part != ".") named = true;
    start = end + 1;
  }
  if (!valid || !named) {
    throw ETaskPathError("Putanja zadatka '" + std::string(path) + "' nije dopuštena"_cp1250);
  }
  std::string full(root);
  full.append(path);
  return full;
}

std::optional<TDateTime> DosFileTime(TDateTime value) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(value, year, month, day);
  if (year < 1980 || year > 2107) return std::nullopt;
  DecodeTime(value, hour, minute, second, millisecond);
  return EncodeDateTime(year, month, day, hour, minute, second - second % 2);
}

// ---- the replacement of a file's content ----

bool IsTemporaryName(std::string_view name) {
  // ".ormelin-" 16 hexadecimal digits "-" a number ".tmp", as TemporaryName.
  constexpr std::string_view kStart = ".ormelin-", kEnd = ".tmp";
  if (name.size() < kStart.size() + 16 + 2 + kEnd.size() ||
      name.substr(0, kStart.size()) != kStart || name.substr(name.size() - kEnd.size()) != kEnd) {
    return false;
  }
  const std::string_view middle =
      name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
  if (middle[16] != '-') return false;
  for (size_t i = 0; i < middle.size(); ++i) {
    const char c = middle[i];
    const bool digit = c >= '0' && c <= '9';
    if (i < 16 ? !(digit || (c >= 'a' && c <= 'f')) : i > 16 && !digit) return false;
  }
  return true;
}

std::unique_ptr<TConfinedFolder> TorFolderCache::Open(std::string_view root,
                                                      std::string_view path) {
  if (!kept_ || root != root_) {
    kept_.reset();
    kept_ = std::make_unique<TConfinedFolder>(root, std::string_view());
    root_.assign(root);
  }
  std::unique_ptr<TConfinedFolder> folder = kept_->OpenBelow(path, ShownPath(root, path));
  if (!folder) folder = std::make_unique<TConfinedFolder>(root, path);
  return folder;
}

TorFileReplacement::TorFileReplacement(std::string_view root, std::string_view path,
                                       TorFolderCache* folders)
    : root_(root), path_(path), shown_(ShownPath(root, path)), folders_(folders) {}

TConfinedFolder& TorFileReplacement::Folder() {
  if (!folder_) {
    try {
      folder_ = folders_ != nullptr ? folders_->Open(root_, path_)
                                    : std::make_unique<TConfinedFolder>(root_, path_);
    } catch (const EFOpenError& error) {
      // Failures name the file the user asked for, with the system's reason.
      throw EFCreateError(shown_, error.Reason());
    }
  }
  return *folder_;
}

const std::string& TorFileReplacement::TempName() {
  // Named only when needed: a new file written unnamed never needs it.
  if (tempName_.empty()) tempName_ = TemporaryName();
  return tempName_;
}

TorFileReplacement::~TorFileReplacement() {
  if (content_) {
    content_.reset();
    if (!unnamed_) folder_->DeleteFile(tempName_);  // an unnamed file goes with its handle
  }
}

void TorFileReplacement::Open() {
  if (content_) return;
  TConfinedFolder& folder = Folder();
  content_ = folder.CreateFile(TempName(), shown_, replaced_.empty() ? Name() : replaced_);
}

TStream& TorFileReplacement::Content() {
  Open();
  return *content_;
}

void TorFileReplacement::OpenNew() {
  if (content_) return;
  content_ = Folder().CreateUnnamed(shown_);
  unnamed_ = content_ != nullptr;
  Open();
}

void TorFileReplacement::Commit(const std::optional<TDateTime>& time) {
  Open();
  TConfinedFolder& folder = *folder_;
  const std::string& name = folder.Name();
  // Timed before it takes the target's place, so the target is either the
  // old file or the whole new one with its time, never anything between.
  // The time goes on through the open file where the system allows it: no
  // write follows.
  const std::optional<TDateTime> dosTime = time ? DosFileTime(*time) : std::nullopt;
  const bool timed = dosTime && content_->SetDate(*dosTime);
  if (unnamed_) {
    if (folder.Publish(*content_, name) == TFileWriteStream::TPublishResult::Done) {
      try {
        content_->Close();
      } catch (const EFCreateError&) {
        // What the system reports only at closing may be lost content.
        content_.reset();
        folder.DeleteFile(name);
        throw;
      }
      content_.reset();
      return;
    }
    // A file took the name meanwhile (or the name could not be given): the
    // content is named as a temporary file and replaces the target as one.
    if (folder.Publish(*content_, TempName()) != TFileWriteStream::TPublishResult::Done) {
      throw EReplaceFileError("Datoteku '" + shown_ +
                              "' nije moguće zamijeniti novim sadržajem"_cp1250);
    }
    unnamed_ = false;
  }
  content_->Close();
  if (dosTime && !timed) folder.SetDate(TempName(), *dosTime);
  if (!folder.Rename(TempName(), name)) {
    throw EReplaceFileError("Datoteku '" + shown_ +
                            "' nije moguće zamijeniti novim sadržajem"_cp1250);
  }
  content_.reset();
  // The old name under another letter case goes, unless the file system
  // ignores letter case and both names are the new file.
  if (!replaced_.empty() && folder.Kind(replaced_) != TEntryKind::None &&
      !folder.SameEntry(replaced_, name) && !folder.DeleteFile(replaced_)) {
    TorDeleteFileCommand::RaiseCannotDelete(ShownPath(root_, ParentPath(path_) + replaced_));
  }
}

void TorFileReplacement::Commit(std::string_view content, const std::optional<TDateTime>& time) {
  Content().Write(content.data(), content.size());
  Commit(time);
}

// ---- the commands ----

const TorInserDirCommand& TorInserDirCommand::Instance() {
  static const TorInserDirCommand instance;
  return instance;
}

void TorInserDirCommand::Execute(std::string_view targetRoot, std::string_view,
                                 std::string_view params) const {
  TaskFullPath(targetRoot, params);
  std::unique_ptr<TConfinedFolder> folder;
  try {
    folder = std::make_unique<TConfinedFolder>(targetRoot, params);
  } catch (const EFOpenError&) {
    return;  // a folder of the path is missing: nothing to create in
  }
  if (folder->Kind(folder->Name()) == TEntryKind::Link) {
    throw ELinkInPath(
        Format("Putanja '%s' je veza; kroz veze se ne piše"_cp1250, folder->Shown().c_str()));
  }
  folder->CreateFolder(folder->Name());
}

const TorDeleteDirCommand& TorDeleteDirCommand::Instance() {
  static const TorDeleteDirCommand instance;
  return instance;
}

void TorDeleteDirCommand::Execute(std::string_view targetRoot, std::string_view,
                                  std::string_view params) const {
  TaskFullPath(targetRoot, params);
  try {
    TConfinedFolder folder(targetRoot, params);
    folder.DeleteTree(folder.Name());
  } catch (const EFOpenError&) {
    // Nothing there to delete.
  }
}

const TorInsertFileCommand& TorInsertFileCommand::Instance() {
  static const TorInsertFileCommand instance;
  return instance;
}

TorInsertFileCommand::TFileParams TorInsertFileCommand::ReadFileParams(std::string_view params) {
  std::vector<std::string> items = ReadDelimitedText(params);
  TFileParams result;
  if (!items.empty()) result.Path = items[0];
  if (items.size() > 1) result.Time = TLoader::TextToDateTime(items[1]);
  return result;
}

bool TorInsertFileCommand::IsRemoteSource(std::string_view sourceRoot) {
  return sourceRoot.size() >= kRemoteSourcePrefix.size() &&
         SameTextFolded(sourceRoot.substr(0, kRemoteSourcePrefix.size()), kRemoteSourcePrefix);
}

std::string TorInsertFileCommand::RemoteProject(std::string_view sourceRoot) {
  return std::string(sourceRoot.substr(std::min(sourceRoot.size(), kRemoteSourcePrefix.size())));
}

void TorInsertFileCommand::FetchFile(std::string_view sourceRoot, std::string_view path,
                                     TStream& stream) {
  if (!IsRemoteSource(sourceRoot)) {
    TFileStream file(TaskFullPath(sourceRoot, path));
    std::string buffer(65536, '\0');
    while (size_t count = file.Read(buffer.data(), buffer.size()))
      stream.Write(buffer.data(), count);
    return;
  }
  TaskFullPath(std::string_view(), path);  // the server is given checked paths only
  TMutexLock guard(gClientConnectionUse);
  FetchFromServer(RemoteProject(sourceRoot), path, stream);
}

void TorInsertFileCommand::Execute(std::string_view targetRoot, std::string_view sourceRoot,
                                   std::string_view params) const {
  TFileParams file = ReadFileParams(params);
  TaskFullPath(targetRoot, file.Path);
  // The target's folder first: nothing is fetched for a path that crosses
  // a link or leads nowhere.
  TorFileReplacement replacement(targetRoot, file.Path);
  replacement.OpenNew();
  TMemoryStream content;
  FetchFile(sourceRoot, file.Path, content);
  replacement.Commit(content.Data(), file.Time);
}

const TorDeleteFileCommand& TorDeleteFileCommand::Instance() {
  static const TorDeleteFileCommand instance;
  return instance;
}

void TorDeleteFileCommand::RaiseCannotDelete(std::string_view fullPath) {
  throw EDeleteFileError(Format("Brisanje '%s' nije moguće"_cp1250, std::string(fullPath).c_str()));
}

void TorDeleteFileCommand::Execute(std::string_view targetRoot, std::string_view,
                                   std::string_view params) const {
  std::vector<std::string> items = ReadDelimitedText(params);
  const std::string path = items.empty() ? std::string() : items[0];
  TaskFullPath(targetRoot, path);
  const std::string shown = ShownPath(targetRoot, path);
  try {
    TConfinedFolder folder(targetRoot, path);
    if (!folder.DeleteFile(folder.Name())) RaiseCannotDelete(shown);
  } catch (const EFOpenError&) {
    RaiseCannotDelete(shown);
  }
}

const TorUpdateFileCommand& TorUpdateFileCommand::Instance() {
  static const TorUpdateFileCommand instance;
  return instance;
}

void TorUpdateFileCommand::PrepareReplace(TorFileReplacement& replacement) {
  TConfinedFolder* folder = nullptr;
  try {
    folder = &replacement.Folder();
  } catch (const EFCreateError&) {
    TorDeleteFileCommand::RaiseCannotDelete(replacement.Shown());
  }
  // The old file must be one the delete command could remove. Names compare
  // without letter case: a file renamed only in case on the other side is
  // this file under its new name.
  std::string existing = folder->Name();
  TEntryKind kind = folder->Kind(existing);
  if (kind == TEntryKind::None) {
    existing = folder->OtherCase(existing);
    kind = existing.empty() ? TEntryKind::None : folder->Kind(existing);
    if (kind == TEntryKind::File) replacement.Replace(existing);
  }
  if (kind == TEntryKind::None || kind == TEntryKind::Folder || folder->IsReadOnly(existing)) {
    TorDeleteFileCommand::RaiseCannotDelete(replacement.Shown());
  }
  try {
    replacement.Open();
  } catch (const EFCreateError&) {
    TorDeleteFileCommand::RaiseCannotDelete(replacement.Shown());
  }
}

void TorUpdateFileCommand::Execute(std::string_view targetRoot, std::string_view sourceRoot,
                                   std::string_view params) const {
  TorInsertFileCommand::TFileParams file = TorInsertFileCommand::ReadFileParams(params);
  TaskFullPath(targetRoot, file.Path);
  TorFileReplacement replacement(targetRoot, file.Path);
  PrepareReplace(replacement);
  TMemoryStream content;
  TorInsertFileCommand::FetchFile(sourceRoot, file.Path, content);
  replacement.Commit(content.Data(), file.Time);
}

// ---- registration ----

void RegisterFileCommands() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterCommandClass(kTaskInsertDir, &TorInserDirCommand::Instance());
    RegisterCommandClass(kTaskDeleteDir, &TorDeleteDirCommand::Instance());
    RegisterCommandClass(kTaskInsertFile, &TorInsertFileCommand::Instance());
    RegisterCommandClass(kTaskDeleteFile, &TorDeleteFileCommand::Instance());
    RegisterCommandClass(kTaskUpdateFile, &TorUpdateFileCommand::Instance());
  });
}

}  // namespace ormelin

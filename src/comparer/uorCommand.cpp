#include "comparer/uorCommand.h"

#include <atomic>
#include <mutex>
#include <random>

#include "comparer/StructStreamer.h"
#include "platform/Cp1250.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {
namespace {

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::atomic<TorClientConnection*> gClientConnection{nullptr};
std::mutex gClientConnectionUse;  // held for one whole remote fetch

// A name for a temporary file that no other writer picks.
std::string TemporaryName() {
  static std::atomic<unsigned> counter{0};
  static const unsigned long long seed = [] {
    std::random_device device;
    return (static_cast<unsigned long long>(device()) << 32) ^ device();
  }();
  return Format(".ormelin-%016llx-%u.tmp", seed, counter.fetch_add(1));
}

}  // namespace

// ---- client connection ----

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

TorFileReplacement::TorFileReplacement(std::string fullPath) : fullPath_(std::move(fullPath)) {}

const std::string& TorFileReplacement::TempPath() {
  // Named only when needed: a new file written unnamed never needs it.
  if (tempPath_.empty()) {
    size_t slash = fullPath_.find_last_of("\\/");
    tempPath_ = slash == std::string::npos ? std::string() : fullPath_.substr(0, slash + 1);
    tempPath_ += TemporaryName();
  }
  return tempPath_;
}

TorFileReplacement::~TorFileReplacement() {
  if (content_) {
    content_.reset();
    if (!unnamed_) DeleteFile(tempPath_);  // an unnamed file goes with its handle
  }
}

void TorFileReplacement::Open() {
  if (content_) return;
  // Failures name the file the user asked for, with the system's reason.
  content_ = std::make_unique<TFileWriteStream>(TempPath(), fullPath_);
}

TStream& TorFileReplacement::Content() {
  Open();
  return *content_;
}

void TorFileReplacement::OpenNew() {
  if (content_) return;
  const size_t slash = fullPath_.find_last_of("\\/");
  const std::string folder =
      slash == std::string::npos ? std::string() : fullPath_.substr(0, slash + 1);
  content_ = TFileWriteStream::CreateUnnamed(folder, fullPath_);
  unnamed_ = content_ != nullptr;
  Open();
}

void TorFileReplacement::Commit(const std::optional<TDateTime>& time) {
  Open();
  // Timed before it takes the target's place, so the target is either the
  // old file or the whole new one with its time, never anything between.
  // The time goes on through the open file where the system allows it: no
  // write follows.
  const std::optional<TDateTime> dosTime = time ? DosFileTime(*time) : std::nullopt;
  const bool timed = dosTime && content_->SetDate(*dosTime);
  if (unnamed_) {
    if (content_->Publish(fullPath_) == TFileWriteStream::TPublishResult::Done) {
      try {
        content_->Close();
      } catch (const EFCreateError&) {
        // What the system reports only at closing may be lost content.
        content_.reset();
        DeleteFile(fullPath_);
        throw;
      }
      content_.reset();
      return;
    }
    // A file took the name meanwhile (or the name could not be given): the
    // content is named as a temporary file and replaces the target as one.
    if (content_->Publish(TempPath()) != TFileWriteStream::TPublishResult::Done) {
      throw EReplaceFileError("Datoteku '" + fullPath_ +
                              "' nije moguće zamijeniti novim sadržajem"_cp1250);
    }
    unnamed_ = false;
  }
  content_->Close();
  if (dosTime && !timed) SetFileDate(TempPath(), *dosTime);
  if (!RenameFile(TempPath(), fullPath_)) {
    throw EReplaceFileError("Datoteku '" + fullPath_ +
                            "' nije moguće zamijeniti novim sadržajem"_cp1250);
  }
  content_.reset();
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
  CreateDir(TaskFullPath(targetRoot, params));
}

const TorDeleteDirCommand& TorDeleteDirCommand::Instance() {
  static const TorDeleteDirCommand instance;
  return instance;
}

void TorDeleteDirCommand::Execute(std::string_view targetRoot, std::string_view,
                                  std::string_view params) const {
  DeleteTree(TaskFullPath(targetRoot, params));
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
  std::lock_guard<std::mutex> guard(gClientConnectionUse);
  TorClientConnection* connection = ClientConnection();
  if (connection == nullptr) {
    throw ENoClientConnection("Veza s poslužiteljem nije uspostavljena"_cp1250);
  }
  TorReply reply = connection->SendCommand(GetFileCommandLine(RemoteProject(sourceRoot), path));
  if (reply.Code != kReplyGetFileStarted.Code) throw EServerReplyError(reply.Code, reply.Text);
  connection->ReceiveStream(stream);
}

void TorInsertFileCommand::Execute(std::string_view targetRoot, std::string_view sourceRoot,
                                   std::string_view params) const {
  TFileParams file = ReadFileParams(params);
  std::string fullPath = TaskFullPath(targetRoot, file.Path);
  TMemoryStream content;
  FetchFile(sourceRoot, file.Path, content);
  TorFileReplacement replacement(fullPath);
  replacement.OpenNew();
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
  std::string fullPath = TaskFullPath(targetRoot, items.empty() ? std::string() : items[0]);
  if (!DeleteFile(fullPath)) RaiseCannotDelete(fullPath);
}

const TorUpdateFileCommand& TorUpdateFileCommand::Instance() {
  static const TorUpdateFileCommand instance;
  return instance;
}

void TorUpdateFileCommand::PrepareReplace(std::string_view fullPath,
                                          TorFileReplacement& replacement) {
  // The old file must be one the delete command could remove.
  if (!FileExists(fullPath) || FileIsReadOnly(fullPath)) {
    TorDeleteFileCommand::RaiseCannotDelete(fullPath);
  }
  try {
    replacement.Open();
  } catch (const EFCreateError&) {
    TorDeleteFileCommand::RaiseCannotDelete(fullPath);
  }
}

void TorUpdateFileCommand::Execute(std::string_view targetRoot, std::string_view sourceRoot,
                                   std::string_view params) const {
  TorInsertFileCommand::TFileParams file = TorInsertFileCommand::ReadFileParams(params);
  std::string fullPath = TaskFullPath(targetRoot, file.Path);
  TorFileReplacement replacement(fullPath);
  PrepareReplace(fullPath, replacement);
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

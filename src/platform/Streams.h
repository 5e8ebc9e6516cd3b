// Byte streams: the in-memory stream that holds protocol payloads and the
// file stream that GetFile sends from. A stream belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/NativeHandle.h"

namespace ormelin {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  // Reads up to `count` bytes at the position; returns how many were read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes at the position, growing the stream as needed.
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual void SetSize(int64_t size) = 0;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  void SetSize(int64_t size) override;

  const std::string& Data() const { return data_; }
  std::string TakeData();  // moves the bytes out, leaving the stream empty

 private:
  std::string data_;
  int64_t position_ = 0;
};

// A read-only stream over bytes owned elsewhere (a resource of the executable).
class TReadOnlyMemoryStream : public TStream {
 public:
  explicit TReadOnlyMemoryStream(std::string_view data) : data_(data) {}
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;  // raises
  void SetSize(int64_t size) override;                    // raises

 private:
  std::string_view data_;
  int64_t position_ = 0;
};

// A file opened for reading. Opening raises EFOpenError "Cannot open file
// "%s". %s" with the path as given and the system's reason; a folder cannot
// be opened. Readers never block each other.
class TFileStream : public TStream {
 public:
  explicit TFileStream(std::string_view path);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;  // raises
  void SetSize(int64_t size) override;                    // raises

  // The operating system's handle (a descriptor, a Windows HANDLE), for the
  // socket layer's file sends.
  TNativeHandle NativeHandle() const { return handle_; }

  // Whether the file's size or last-write time is no longer what it was at
  // opening (someone rewrote it in place since); a file that cannot be
  // asked counts as changed.
  bool ChangedSinceOpened() const;

 protected:
  // Nothing open yet: the derived class opens with Open or Adopt, raising
  // what the path constructor raises.
  TFileStream() = default;
  void Open(std::string_view path);
  // Takes over `handle`, a file opened for reading by other means, closing
  // it if it is no regular file; `path` names it in the errors.
  void Adopt(TNativeHandle handle, std::string_view path);

 private:
  TNativeHandle handle_ = kNoNativeHandle;
  int64_t size_ = 0;
  int64_t modified_ = 0;  // last-write time at opening, in the system's units
  int64_t position_ = 0;
};

// A file created (or emptied) for writing, written straight through at its
// end: what a client receives goes to disk piece by piece instead of being
// held whole in memory. Creating raises EFCreateError "Cannot create file
// "%s". %s"; a failed write (a full disk), cut or close raises EFCreateError
// alike. The message names `shownPath` when given: the file the user knows
// of, where the stream is its temporary stand-in.
class TFileWriteStream : public TStream {
 public:
  explicit TFileWriteStream(std::string_view path, std::string_view shownPath = {});
  ~TFileWriteStream() override;
  TFileWriteStream(const TFileWriteStream&) = delete;
  TFileWriteStream& operator=(const TFileWriteStream&) = delete;

  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  size_t Read(void* buffer, size_t count) override;  // raises
  void Write(const void* buffer, size_t count) override;
  void SetSize(int64_t size) override;
  // Closes the file, reporting what the system could only tell then.
  void Close();

  // A file that has no name yet, in the folder `folder`, where the system
  // makes one (Linux: O_TMPFILE); null where it does not (the caller then
  // writes a named temporary file). Until Publish names it, nothing of it is
  // on disk for anyone to see, and it vanishes with its handle or the
  // process. Other failures raise EFCreateError naming `shownPath`.
  static std::unique_ptr<TFileWriteStream> CreateUnnamed(std::string_view folder,
                                                         std::string_view shownPath);
  // A stream over a file opened for writing by other means (a confined
  // folder's), which it owns from now on.
  static std::unique_ptr<TFileWriteStream> Adopt(TNativeHandle handle, std::string_view shownPath) {
    return std::unique_ptr<TFileWriteStream>(new TFileWriteStream(handle, shownPath));
  }
  // How Publish ended.
  enum class TPublishResult { Done, Exists, Failed };
  // Gives the unnamed file the name `path`, never replacing an entry of
  // that name (Exists). The stream stays open, to be closed.
  TPublishResult Publish(std::string_view path);
  // Sets the last-write (and last-access) time through the open file, as
  // SetFileDate does by path; any write after it changes the time again.
  // False where it cannot, the caller then uses SetFileDate after closing.
  bool SetDate(TDateTime value);

  // For bytes written to the file at Position() by other means (a socket's
  // ReceiveToFile): the handle, and the count that moves the position on.
  TNativeHandle NativeHandle() const { return handle_; }
  void Advance(int64_t count) {
    position_ += count;
    if (position_ > size_) size_ = position_;
  }
  // Raises the failure of a write with the system's `error` code.
  [[noreturn]] void RaiseWriteError(int error) const;

 private:
  TFileWriteStream(TNativeHandle handle, std::string_view shownPath)
      : shownPath_(shownPath), handle_(handle) {}

  std::string shownPath_;
  TNativeHandle handle_ = kNoNativeHandle;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Makes a write past the process's file-size limit (ulimit -f) fail with
// its error, "File too large", like any other failed write, instead of
// ending the process with SIGXFSZ and leaving its temporary files behind.
// For the process, once at start-up, before any thread is started.
void ReportFileSizeLimitAsError();

}  // namespace ormelin

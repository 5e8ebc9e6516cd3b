// What the client shows its user: messages on standard output (none with
// --quiet), errors on standard error, and, when standard error is a
// terminal, a progress line redrawn in place (files and bytes done, rate,
// time left). Texts are code page 1250 and reach the terminal as UTF-8,
// their control characters escaped (EscapeControls).
//
// Threading: every operation is safe from any thread; a ticker thread
// redraws the progress line while it is shown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Mutex.h"

namespace ormelin {

// "1,5 MB", "512 B": sizes as the user reads them.
std::string SizeText(int64_t bytes);
// "0:42", "1:02:03".
std::string DurationText(double seconds);
// A UTF-8 text with every control character (C0, DEL, C1) written as
// "\x1b", so that what a server sends cannot steer the terminal.
std::string EscapeControls(std::string_view utf8);

class TClientOutput {
 public:
  explicit TClientOutput(bool quiet);
  ~TClientOutput();
  TClientOutput(const TClientOutput&) = delete;
  TClientOutput& operator=(const TClientOutput&) = delete;

  void Print(std::string_view text);
  void Error(std::string_view text);

  // Shows progress over `files` file transfers until StopProgress.
  void StartProgress(int files);
  // `files` more transfers to show, for a list that grows while it is done.
  void MoreFiles(int files);
  void FileDone();
  void AddBytes(int64_t bytes);
  void StopProgress();

  int FilesDone() const;
  int64_t BytesDone() const;
  double Elapsed() const;  // seconds since StartProgress

 private:
  void Tick();
  void DrawLocked() REQUIRES(lock_);
  void ClearLocked() REQUIRES(lock_);
  void WriteLocked(bool error, std::string_view text) REQUIRES(lock_);

  const bool quiet_;
  const bool terminal_;
  mutable TMutex lock_;
  std::condition_variable_any wake_;
  bool shown_ GUARDED_BY(lock_) = false;
  bool drawn_ GUARDED_BY(lock_) = false;
  bool stopping_ GUARDED_BY(lock_) = false;
  int totalFiles_ GUARDED_BY(lock_) = 0;
  int filesDone_ GUARDED_BY(lock_) = 0;
  int64_t bytesDone_ GUARDED_BY(lock_) = 0;
  std::chrono::steady_clock::time_point start_ GUARDED_BY(lock_) = std::chrono::steady_clock::now();
  std::thread ticker_ GUARDED_BY(lock_);
};

}  // namespace ormelin

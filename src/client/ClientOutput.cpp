#include "client/ClientOutput.h"

#include <cmath>
#include <cstdio>

#include "platform/Console.h"
#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Paths.h"

namespace ormelin {

std::string SizeText(int64_t bytes) {
  static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
  if (bytes < 1024) return Format("%lld B", static_cast<long long>(bytes));
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  std::string text = Format("%.1f %s", value, units[unit]);
  for (char& c : text) {
    if (c == '.') c = ',';
  }
  return text;
}

std::string DurationText(double seconds) {
  long long total = seconds < 0 ? 0 : std::llround(seconds);
  if (total >= 3600) return Format("%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return Format("%lld:%02lld", total / 60, total % 60);
}

TClientOutput::TClientOutput(bool quiet)
    : quiet_(quiet), terminal_(!quiet && IsTerminal(TConsoleStream::Error)) {}

TClientOutput::~TClientOutput() {
  StopProgress();
}

std::string EscapeControls(std::string_view utf8) {
  std::string shown;
  shown.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // C1 controls take two bytes in UTF-8: C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                    static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) {
      shown += Format("\\x%02x", c1 ? static_cast<unsigned char>(utf8[++i]) : c);
    } else {
      shown.push_back(static_cast<char>(c));
    }
  }
  return shown;
}

void TClientOutput::WriteLocked(bool error, std::string_view text) {
  ClearLocked();
  std::string line = EscapeControls(Cp1250ToUtf8(text));
  line.push_back('\n');
  std::FILE* stream = error ? stderr : stdout;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
  if (shown_) DrawLocked();
}

void TClientOutput::Print(std::string_view text) {
  if (quiet_) return;
  TMutexLock guard(lock_);
  WriteLocked(false, text);
}

void TClientOutput::Error(std::string_view text) {
  TMutexLock guard(lock_);
  WriteLocked(true, text);
}

void TClientOutput::StartProgress(int files) {
  TMutexLock guard(lock_);
  totalFiles_ = files;
  filesDone_ = 0;
  bytesDone_ = 0;
  start_ = std::chrono::steady_clock::now();
  if (!terminal_ || shown_) return;
  shown_ = true;
  stopping_ = false;
  ticker_ = std::thread([this] { Tick(); });
}

void TClientOutput::MoreFiles(int files) {
  TMutexLock guard(lock_);
  totalFiles_ += files;
}

void TClientOutput::StopProgress() {
  std::thread ticker;
  {
    TMutexLock guard(lock_);
    if (!shown_) return;
    stopping_ = true;
    // Joined outside the lock, which the ticker needs to end.
    ticker = std::move(ticker_);
  }
  wake_.notify_all();
  if (ticker.joinable()) ticker.join();
  TMutexLock guard(lock_);
  ClearLocked();
  shown_ = false;
}

void TClientOutput::FileDone() {
  TMutexLock guard(lock_);
  ++filesDone_;
}

void TClientOutput::AddBytes(int64_t bytes) {
  TMutexLock guard(lock_);
  bytesDone_ += bytes;
}

int TClientOutput::FilesDone() const {
  TMutexLock guard(lock_);
  return filesDone_;
}

int64_t TClientOutput::BytesDone() const {
  TMutexLock guard(lock_);
  return bytesDone_;
}

double TClientOutput::Elapsed() const {
  TMutexLock guard(lock_);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void TClientOutput::Tick() {
  TMutexLock guard(lock_);
  while (!stopping_) {
    DrawLocked();
    // A wait with a predicate, spelt out: the analysis cannot tell that a
    // predicate lambda runs with the lock held.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (!stopping_ && wake_.wait_until(guard, until) != std::cv_status::timeout) {
    }
  }
}

void TClientOutput::DrawLocked() {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = elapsed > 0.2 ? static_cast<double>(bytesDone_) / elapsed : 0;
  // The task list carries no sizes, so the files tell how far along it is.
  std::string left = "--:--";
  if (filesDone_ > 0 && filesDone_ < totalFiles_ && elapsed > 0.5) {
    left = DurationText(elapsed * (totalFiles_ - filesDone_) / filesDone_);
  } else if (filesDone_ >= totalFiles_) {
    left = "0:00";
  }
  std::string line = Format("datoteke %d/%d  %s  %s/s  još %s"_cp1250, filesDone_, totalFiles_,
                            SizeText(bytesDone_).c_str(),
                            SizeText(static_cast<int64_t>(rate)).c_str(), left.c_str());
  const size_t width = static_cast<size_t>(TerminalWidth(TConsoleStream::Error));
  if (width > 1 && line.size() > width - 1) line.resize(width - 1);
  line = "\r" + Cp1250ToUtf8(line) + "\x1b[K";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void TClientOutput::ClearLocked() {
  if (!drawn_) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace ormelin

// Threads with a chosen stack size. A listener serving thousands of idle
// connections gives each connection thread a small stack; std::thread cannot
// say so, hence this starter. A TThread object is owned by the thread that
// started it; Join and Detach are called from that owner only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"

namespace ormelin {

// The system could not create a thread (out of memory or of threads).
class EThreadError : public Exception {
 public:
  using Exception::Exception;
};

class TThread {
 public:
  TThread() noexcept;
  // Starts `body` on a new thread with `stackSize` bytes of stack (0: the
  // system's default) and `name` (cut to what the system keeps) for
  // debuggers. Raises EThreadError, leaving no thread behind, when the
  // thread cannot be created. An exception escaping `body` ends the process,
  // as with std::thread: bodies catch their own.
  TThread(std::function<void()> body, size_t stackSize, std::string_view name = {});
  ~TThread();  // joins a thread that is still attached
  TThread(TThread&& other) noexcept;
  TThread& operator=(TThread&& other) noexcept;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  bool Joinable() const { return state_ != nullptr; }
  void Join();
  // Lets the thread run on its own; it releases itself when it ends.
  void Detach();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace ormelin

// The running service between the manager's dispatcher and the service
// thread: what ServiceEntry does once the control handler is registered,
// and what ControlHandler does with each request.
//
// Run() is called once, on the thread the dispatcher gives the service; it
// creates the service thread, the one thread that changes the state after
// the start, and waits for it. Control() is called on the dispatcher's
// thread, at any time, also before the service thread exists (a request is
// then kept until its message queue is ready) or after it has ended (the
// request is dropped). The two meet through the service thread's message
// queue; a short lock covers only the queue's thread id.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "platform/ServiceControl.h"

namespace ormelin {

class TServiceThread {
 public:
  // Hands one status record to the manager.
  using TReport = std::function<void(const TServiceStatusRecord&)>;
  // Writes one entry to the event log under the service's source.
  using TLog = std::function<void(const std::string&)>;

  TServiceThread(std::string name, TReport report, TLog log);
  ~TServiceThread();
  TServiceThread(const TServiceThread&) = delete;
  TServiceThread& operator=(const TServiceThread&) = delete;

  const std::string& Name() const { return name_; }

  // Stores the start parameters, reports start pending, runs the service
  // thread until a stop or shutdown request ends it, and reports stopped
  // on every path.
  void Run(std::vector<std::string> parameters);

  // Posts the control code to the service thread and, when it is suspended
  // (paused), resumes it.
  void Control(uint32_t code);

  // The start parameters the manager passed (the first is the service name).
  const std::vector<std::string>& Parameters() const { return parameters_; }

 private:
  void Execute();
  void SetStatus(TServiceState state);
  void ServeControlRequests(bool waiting);
  void HandleControl(uint32_t code);
  void SuspendUntilResumed();

  const std::string name_;
  const TReport report_;
  const TLog log_;
  std::vector<std::string> parameters_;

  // Touched by the service thread only, and by Run() before the service
  // thread starts and after it has ended.
  TServiceStateReports reports_;
  TServiceState status_ = TServiceState::Stopped;
  bool terminated_ = false;

  HANDLE resume_;  // set by Control() to end a suspension
  std::atomic<bool> suspended_{false};

  TMutex queueLock_;
  DWORD queueThread_ GUARDED_BY(queueLock_) = 0;  // the service thread once its queue exists
  bool queueGone_ GUARDED_BY(queueLock_) = false;
  std::vector<uint32_t> waiting_ GUARDED_BY(queueLock_);  // requests before the queue existed
};

// The system's text for an error code, without its line end, in the
// machine's ANSI code page as the "A" functions (ReportEventA, MessageBoxA)
// take it; "Unknown error %lu" for a code without a text.
std::string SystemErrorAnsiText(DWORD code);

// The window class of the hidden application window.
inline constexpr const char* kApplicationWindowClass = "TOrmelinServiceApplication";

}  // namespace ormelin

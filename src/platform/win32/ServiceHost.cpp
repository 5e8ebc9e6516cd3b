// The Windows service frame: registration with the service control
// manager, the dispatcher thread, ServiceEntry and ControlHandler, the
// service thread with its own message queue, and the hidden application
// window whose message loop holds the process open.
#include "platform/ServiceHost.h"

#include <windows.h>

#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/EventLogSink.h"
#include "platform/Format.h"
#include "platform/ServiceControl.h"
#include "platform/Text.h"
#include "platform/win32/ServiceThread.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

namespace ormelin {

std::string SystemErrorAnsiText(DWORD code) {
  const std::string text = SystemErrorText(code);
  if (text.empty()) return Format("Unknown error %lu", static_cast<unsigned long>(code));
  return WideToAnsi(Cp1250ToWide(text));
}

namespace {

// A failed call of the manager, as the host reports it.
std::string ManagerFailureReport(DWORD code) {
  return SystemErrorReport(static_cast<int>(code), SystemErrorAnsiText(code));
}

// A handle of the service control manager, closed with its owner.
class TServiceHandle {
 public:
  explicit TServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~TServiceHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  TServiceHandle(const TServiceHandle&) = delete;
  TServiceHandle& operator=(const TServiceHandle&) = delete;
  SC_HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

SC_HANDLE OpenManager() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) throw EServiceManagerUnavailable(ManagerFailureReport(GetLastError()));
  return manager;
}

}  // namespace

std::string InstallService(const TServiceDescription& service) {
  TServiceHandle manager(OpenManager());
  const std::string& displayName = service.DisplayName.empty() ? service.Name : service.DisplayName;
  // No load-order group, no tag, no dependencies (an empty list: two NULs),
  // the LocalSystem account (no account, an empty password).
  TServiceHandle created(CreateServiceA(manager.Get(), service.Name.c_str(), displayName.c_str(),
                                        SERVICE_ALL_ACCESS, kServiceOwnProcess, kServiceAutoStart,
                                        kServiceErrorNormal, service.Executable.c_str(), "",
                                        nullptr, "\0", nullptr, ""));
  if (!created) throw Exception(ManagerFailureReport(GetLastError()));
  return {};
}

std::string UninstallService(const TServiceDescription& service) {
  TServiceHandle manager(OpenManager());
  TServiceHandle existing(OpenServiceA(manager.Get(), service.Name.c_str(), SERVICE_ALL_ACCESS));
  if (!existing) throw Exception(ManagerFailureReport(GetLastError()));
  if (!DeleteService(existing.Get())) throw Exception(ManagerFailureReport(GetLastError()));
  return {};
}

// ---------------------------------------------------------------------------
// The service thread.

TServiceThread::TServiceThread(std::string name, TReport report, TLog log)
    : name_(std::move(name)),
      report_(std::move(report)),
      log_(std::move(log)),
      resume_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

TServiceThread::~TServiceThread() {
  if (resume_ != nullptr) CloseHandle(resume_);
}

void TServiceThread::Run(std::vector<std::string> parameters) {
  parameters_ = std::move(parameters);
  try {
    SetStatus(TServiceState::StartPending);
    std::thread thread([this] { Execute(); });
    thread.join();
  } catch (const std::exception& error) {
    log_(ServiceFailureText("execute", error.what()));
  }
  try {
    SetStatus(TServiceState::Stopped);
  } catch (const std::exception& error) {
    log_(ServiceFailureText("execute", error.what()));
  }
}

void TServiceThread::Execute() {
  // The queue exists before anyone may post to it, so no request is lost;
  // those that came before it are posted now, in their order.
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  {
    TMutexLock lock(queueLock_);
    queueThread_ = GetCurrentThreadId();
    for (uint32_t code : waiting_) PostThreadMessageA(queueThread_, kControlMessage, code, 0);
    waiting_.clear();
  }
  bool started = false;
  try {
    SetStatus(TServiceState::StartPending);
    started = true;
  } catch (const std::exception& error) {
    log_(ServiceFailureText("start", error.what()));
  }
  if (started) {
    try {
      SetStatus(TServiceState::Running);
      ServeControlRequests(true);
      ServeControlRequests(false);
    } catch (const std::exception& error) {
      log_(ServiceFailureText("execute", error.what()));
    }
  }
  TMutexLock lock(queueLock_);
  queueThread_ = 0;
  queueGone_ = true;
}

void TServiceThread::SetStatus(TServiceState state) {
  status_ = state;
  report_(reports_.Next(state));
}

void TServiceThread::ServeControlRequests(bool waiting) {
  for (;;) {
    if (waiting && terminated_) return;
    MSG message;
    if (waiting) {
      BOOL got = GetMessageA(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) return;  // WM_QUIT, or no queue to read
    } else {
      if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
      if (message.message == WM_QUIT) return;
    }
    if (message.message != kControlMessage) {
      DispatchMessageA(&message);
      continue;
    }
    HandleControl(static_cast<uint32_t>(message.wParam));
  }
}

void TServiceThread::HandleControl(uint32_t code) {
  const TServiceState remembered = status_;
  const TControlAction action = ControlActionFor(code);
  try {
    if (action.ReportUnchanged) report_(reports_.Next(status_));
    for (TServiceState state : action.States) SetStatus(state);
    if (action.Terminate) terminated_ = true;
    if (action.Suspend) SuspendUntilResumed();
  } catch (const std::exception& error) {
    // A shutdown ends the service whatever happened on the way.
    if (action.Terminate && !action.RestoreOnFailure) terminated_ = true;
    log_(ControlFailureText(code, error.what()));
    if (action.RestoreOnFailure && status_ != remembered) {
      try {
        SetStatus(remembered);
      } catch (const std::exception&) {
        // Already reported; the state stays as it is.
      }
    }
  }
}

// Paused: the thread waits until Control() resumes it. A request posted
// before the wait began also ends it, so a resume that comes between the
// check of the queue and the wait is never lost.
void TServiceThread::SuspendUntilResumed() {
  ResetEvent(resume_);
  suspended_.store(true);
  for (;;) {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) break;
    DWORD woken = MsgWaitForMultipleObjects(1, &resume_, FALSE, INFINITE, QS_ALLPOSTMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1) break;  // resumed, or no wait possible
  }
  suspended_.store(false);
}

void TServiceThread::Control(uint32_t code) {
  {
    TMutexLock lock(queueLock_);
    if (queueThread_ == 0) {
      if (!queueGone_) waiting_.push_back(code);
      return;
    }
    PostThreadMessageA(queueThread_, kControlMessage, code, 0);
  }
  if (suspended_.load()) SetEvent(resume_);
}

// ---------------------------------------------------------------------------
// The dispatcher's entries. The process runs one service; the dispatcher's
// plain functions reach it through this pointer, set while Run() runs.

namespace {

std::atomic<TServiceThread*> runningService{nullptr};
SERVICE_STATUS_HANDLE statusHandle = nullptr;  // set by ServiceEntry before any report

void ReportToManager(const std::string& name, const TServiceStatusRecord& record) {
  SERVICE_STATUS status{};
  status.dwServiceType = record.ServiceType;
  status.dwCurrentState = record.CurrentState;
  status.dwControlsAccepted = record.ControlsAccepted;
  status.dwWin32ExitCode = record.Win32ExitCode;
  status.dwServiceSpecificExitCode = record.ServiceSpecificExitCode;
  status.dwCheckPoint = record.CheckPoint;
  status.dwWaitHint = record.WaitHint;
  if (!SetServiceStatus(statusHandle, &status)) {
    WriteEventLogEntry(name, SystemErrorAnsiText(GetLastError()));
  }
}

VOID WINAPI ControlHandler(DWORD code) {
  if (TServiceThread* service = runningService.load()) service->Control(code);
}

VOID WINAPI ServiceEntry(DWORD count, LPSTR* arguments) {
  TServiceThread* service = runningService.load();
  if (service == nullptr || count == 0 || arguments == nullptr || arguments[0] == nullptr ||
      !SameTextFolded(arguments[0], service->Name())) {
    return;
  }
  std::vector<std::string> parameters;
  for (DWORD i = 0; i < count; ++i) parameters.emplace_back(arguments[i] ? arguments[i] : "");
  statusHandle = RegisterServiceCtrlHandlerA(service->Name().c_str(), ControlHandler);
  if (statusHandle == nullptr) {
    WriteEventLogEntry(service->Name(), SystemErrorAnsiText(GetLastError()));
    return;
  }
  service->Run(std::move(parameters));
}

// The hidden application window. A user logging off does not end the
// process: WM_ENDSESSION is ignored, and so is the console's log-off event.
LRESULT CALLBACK ApplicationWindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_ENDSESSION) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

BOOL WINAPI ConsoleEvent(DWORD event) {
  return event == CTRL_LOGOFF_EVENT ? TRUE : FALSE;
}

}  // namespace

struct TServiceApplication::TState {
  HWND Window = nullptr;
};

TServiceApplication::TServiceApplication() : state_(std::make_unique<TState>()) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ApplicationWindowProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kApplicationWindowClass;
  RegisterClassA(&windowClass);  // fails harmlessly when a second object registers it again
  state_->Window = CreateWindowExA(0, kApplicationWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                   nullptr, windowClass.hInstance, nullptr);
  SetConsoleCtrlHandler(ConsoleEvent, TRUE);
}

TServiceApplication::~TServiceApplication() {
  SetConsoleCtrlHandler(ConsoleEvent, FALSE);
  if (state_->Window != nullptr) DestroyWindow(state_->Window);
}

bool TServiceApplication::Run(const TServiceDescription& service, const std::string& hostSource) {
  const std::string name = service.Name;
  TServiceThread serviceThread(
      name, [name](const TServiceStatusRecord& record) { ReportToManager(name, record); },
      [name](const std::string& text) { WriteEventLogEntry(name, text); });
  runningService.store(&serviceThread);
  struct TForget {
    ~TForget() { runningService.store(nullptr); }
  } forget;

  // The main thread's queue exists before the dispatcher may post its
  // WM_QUIT: without a window (Wine without a display) that goes to the
  // thread itself, and a dispatcher that fails at once must not find it
  // missing.
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

  // The dispatcher holds its thread until every service of the process has
  // stopped, then the main loop below ends.
  DWORD result = 0;
  HWND window = state_->Window;
  const DWORD mainThread = GetCurrentThreadId();
  std::thread dispatcher([&result, &name, window, mainThread] {
    std::vector<char> serviceName(name.begin(), name.end());
    serviceName.push_back('\0');
    SERVICE_TABLE_ENTRYA table[] = {{serviceName.data(), ServiceEntry}, {nullptr, nullptr}};
    result = StartServiceCtrlDispatcherA(table) ? 0 : GetLastError();
    if (window != nullptr) {
      PostMessageA(window, WM_QUIT, 0, 0);
    } else {
      PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
    }
  });

  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    try {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    } catch (const std::exception& error) {
      WriteEventLogEntry(hostSource, error.what());
    }
  }
  dispatcher.join();

  if (result != 0) {
    // Also a process started by hand, outside the manager, ends here.
    WriteEventLogEntry(hostSource, SystemErrorAnsiText(result));
    return false;
  }
  return true;
}

void ShowInformation(std::string_view text) {
  MessageBoxA(nullptr, std::string(text).c_str(), "Information", MB_OK | MB_ICONINFORMATION);
}

void ShowError(std::string_view text) {
  MessageBoxA(nullptr, std::string(text).c_str(), "Error", MB_OK | MB_ICONERROR);
}

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace ormelin

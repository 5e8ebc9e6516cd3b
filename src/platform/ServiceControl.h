// The service manager's conversation with a running service, as far as it
// needs no system call: the service states and the status record reported
// for each, the check point kept between reports, what each control request
// does, the texts of the host's failures, and the file name of a path.
// The Windows host applies these decisions; tests check them on every
// system.
//
// TServiceStateReports is used by one thread at a time (the thread that
// reports the service's states); everything else is a plain value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

// The service's state, as reported to the manager.
enum class TServiceState : uint32_t {
  Stopped = 1,
  StartPending = 2,
  StopPending = 3,
  Running = 4,
  ContinuePending = 5,
  PausePending = 6,
  Paused = 7,
};

bool IsPendingState(TServiceState state);

// How the service is registered: its own process, started with the system,
// a failure to start logged and the start of the system going on.
inline constexpr uint32_t kServiceOwnProcess = 0x10;
inline constexpr uint32_t kServiceAutoStart = 2;
inline constexpr uint32_t kServiceErrorNormal = 1;
inline constexpr uint32_t kServiceWaitHint = 5000;  // milliseconds, sent with every report

// Controls the service accepts once it has started: stop, pause and
// continue, shutdown.
inline constexpr uint32_t kAcceptStop = 1;
inline constexpr uint32_t kAcceptPauseContinue = 2;
inline constexpr uint32_t kAcceptShutdown = 4;

// The thread message that carries a control code to the service thread
// (WM_USER + 1), the code in its first parameter.
inline constexpr uint32_t kControlMessage = 1025;

// One report to the manager, field for field as the manager takes it.
struct TServiceStatusRecord {
  uint32_t ServiceType = kServiceOwnProcess;
  uint32_t CurrentState = 0;
  uint32_t ControlsAccepted = 0;
  uint32_t Win32ExitCode = 0;
  uint32_t ServiceSpecificExitCode = 0;
  uint32_t CheckPoint = 0;
  uint32_t WaitHint = kServiceWaitHint;

  bool operator==(const TServiceStatusRecord&) const = default;
};

// The reports of one process. The check point rises by one with each report
// of a pending state that repeats the last reported state, and is 0
// otherwise; the last reported state starts as start pending, so the first
// two start-pending reports carry 1 and 2. While start is pending the
// service accepts no controls.
class TServiceStateReports {
 public:
  TServiceStatusRecord Next(TServiceState state);

 private:
  TServiceState last_ = TServiceState::StartPending;
  uint32_t checkPoint_ = 0;
};

// What the service thread does with one control request when the module
// binds no handler of its own.
struct TControlAction {
  // The word of the request in failure texts ("stop", "pause", ...); empty
  // for a code the system does not know (a custom request).
  std::string Word;
  // The states to report, in order; none for interrogate and custom codes.
  std::vector<TServiceState> States;
  bool ReportUnchanged = false;  // interrogate: report the state as it stands
  bool Terminate = false;        // the service thread ends (stop, shutdown)
  bool Suspend = false;          // the service thread waits until the next request (pause)
  // A failure of the action restores the state it found; not after shutdown.
  bool RestoreOnFailure = true;

  bool operator==(const TControlAction&) const = default;
};

TControlAction ControlActionFor(uint32_t code);

// "Service failed on %s: %s" for a failure while starting ("start") or
// running ("execute") the service, or in a control request; "Service failed
// in custom message(%d): %s" for a request with a code of its own.
std::string ServiceFailureText(std::string_view word, std::string_view message);
std::string ControlFailureText(uint32_t code, std::string_view message);

// "System Error.  Code: %d.\r\n%s": a failed system call as the host
// reports it, with the system's text for the code.
std::string SystemErrorReport(int code, std::string_view text);

// The last name of a path, split at "/" and at "\" alike.
std::string LastPathName(std::string_view path);

}  // namespace ormelin

#include "platform/ServiceControl.h"

#include "platform/Format.h"
#include "platform/ServiceHost.h"

namespace ormelin {

bool IsPendingState(TServiceState state) {
  switch (state) {
    case TServiceState::StartPending:
    case TServiceState::StopPending:
    case TServiceState::ContinuePending:
    case TServiceState::PausePending:
      return true;
    default:
      return false;
  }
}

TServiceStatusRecord TServiceStateReports::Next(TServiceState state) {
  checkPoint_ = IsPendingState(state) && state == last_ ? checkPoint_ + 1 : 0;
  last_ = state;
  TServiceStatusRecord record;
  record.CurrentState = static_cast<uint32_t>(state);
  record.ControlsAccepted = state == TServiceState::StartPending
                                ? 0
                                : kAcceptStop | kAcceptShutdown | kAcceptPauseContinue;
  record.CheckPoint = checkPoint_;
  return record;
}

TControlAction ControlActionFor(uint32_t code) {
  TControlAction action;
  switch (code) {
    case 1:
      action.Word = "stop";
      action.States = {TServiceState::StopPending};
      action.Terminate = true;
      break;
    case 2:
      action.Word = "pause";
      action.States = {TServiceState::PausePending, TServiceState::Paused};
      action.Suspend = true;
      break;
    case 3:
      action.Word = "continue";
      action.States = {TServiceState::ContinuePending, TServiceState::Running};
      break;
    case 4:
      action.Word = "interrogate";
      action.ReportUnchanged = true;
      break;
    case 5:
      action.Word = "shutdown";
      action.States = {TServiceState::StopPending};
      action.Terminate = true;
      action.RestoreOnFailure = false;
      break;
    default:
      break;  // accepted, nothing to do
  }
  return action;
}

std::string ServiceFailureText(std::string_view word, std::string_view message) {
  return "Service failed on " + std::string(word) + ": " + std::string(message);
}

std::string ControlFailureText(uint32_t code, std::string_view message) {
  TControlAction action = ControlActionFor(code);
  if (!action.Word.empty()) return ServiceFailureText(action.Word, message);
  return Format("Service failed in custom message(%d): ", static_cast<int>(code)) +
         std::string(message);
}

std::string SystemErrorReport(int code, std::string_view text) {
  return Format("System Error.  Code: %d.\r\n", code) + std::string(text);
}

std::string LastPathName(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

std::string ExecutableFileName() {
  return LastPathName(ExecutablePath());
}

}  // namespace ormelin

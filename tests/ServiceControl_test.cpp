#include "platform/ServiceControl.h"

#include <gtest/gtest.h>

namespace ormelin {
namespace {

using S = TServiceState;

// A whole service run as the manager sees it: start, pause, continue, an
// interrogation, stop.
TEST(ServiceStateReports, CarryTheCheckPointAndTheControlsOfEachState) {
  struct {
    S State;
    uint32_t ControlsAccepted;
    uint32_t CheckPoint;
  } reports[] = {
      {S::StartPending, 0, 1}, {S::StartPending, 0, 2}, {S::Running, 7, 0},
      {S::PausePending, 7, 0}, {S::Paused, 7, 0},       {S::ContinuePending, 7, 0},
      {S::Running, 7, 0},      {S::Running, 7, 0},      {S::StopPending, 7, 0},
      {S::StopPending, 7, 1},  {S::Stopped, 7, 0},
  };
  TServiceStateReports sequence;
  int index = 0;
  for (const auto& report : reports) {
    SCOPED_TRACE(index++);
    TServiceStatusRecord expected;
    expected.ServiceType = 0x10;
    expected.CurrentState = static_cast<uint32_t>(report.State);
    expected.ControlsAccepted = report.ControlsAccepted;
    expected.Win32ExitCode = 0;
    expected.ServiceSpecificExitCode = 0;
    expected.CheckPoint = report.CheckPoint;
    expected.WaitHint = 5000;
    EXPECT_EQ(sequence.Next(report.State), expected);
  }
}

TEST(ServiceStateReports, APendingStateAfterAnotherStartsItsCountAgain) {
  TServiceStateReports sequence;
  EXPECT_EQ(sequence.Next(S::StartPending).CheckPoint, 1u);
  EXPECT_EQ(sequence.Next(S::StopPending).CheckPoint, 0u);
  EXPECT_EQ(sequence.Next(S::StopPending).CheckPoint, 1u);
  EXPECT_EQ(sequence.Next(S::StartPending).CheckPoint, 0u);
  EXPECT_EQ(sequence.Next(S::StartPending).CheckPoint, 1u);
}

TEST(ServiceControlRequests, ReportTheirStatesAndEndOrSuspendTheThread) {
  struct {
    uint32_t Code;
    const char* Word;
    std::vector<S> States;
    bool ReportUnchanged, Terminate, Suspend, RestoreOnFailure;
  } cases[] = {
      {1, "stop", {S::StopPending}, false, true, false, true},
      {2, "pause", {S::PausePending, S::Paused}, false, false, true, true},
      {3, "continue", {S::ContinuePending, S::Running}, false, false, false, true},
      {4, "interrogate", {}, true, false, false, true},
      {5, "shutdown", {S::StopPending}, false, true, false, false},
      {0, "", {}, false, false, false, true},
      {6, "", {}, false, false, false, true},  // a parameter change: accepted, nothing done
      {128, "", {}, false, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    TControlAction expected{c.Word,      c.States,  c.ReportUnchanged,
                            c.Terminate, c.Suspend, c.RestoreOnFailure};
    EXPECT_EQ(ControlActionFor(c.Code), expected);
  }
}

TEST(ServiceFailureTexts, NameTheRequestOrItsCode) {
  EXPECT_EQ(ServiceFailureText("start", "Out of memory"), "Service failed on start: Out of memory");
  EXPECT_EQ(ControlFailureText(2, "x"), "Service failed on pause: x");
  EXPECT_EQ(ControlFailureText(5, "y"), "Service failed on shutdown: y");
  EXPECT_EQ(ControlFailureText(200, "z"), "Service failed in custom message(200): z");
  EXPECT_EQ(SystemErrorReport(1063, "The service process could not connect."),
            "System Error.  Code: 1063.\r\nThe service process could not connect.");
}

TEST(LastPathName, SplitsAtEitherSeparator) {
  struct {
    const char* Path;
    const char* Name;
  } cases[] = {
      {"C:\\Program Files\\Ormelin\\ormelin-server.exe", "ormelin-server.exe"},
      {"/usr/sbin/ormelin-server", "ormelin-server"},
      {"Z:\\home/test\\bin/orServer.exe", "orServer.exe"},
      {"/opt/a\\b", "b"},
      {"ormelin-server.exe", "ormelin-server.exe"},
      {"C:\\Ormelin\\", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LastPathName(c.Path), c.Name) << c.Path;
}

}  // namespace
}  // namespace ormelin

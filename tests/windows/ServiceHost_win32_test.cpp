// The Windows service host, run as a Windows program (under Wine on our
// machines): the service thread's reports for each control request, the
// registration with the service control manager, a start by hand outside
// the manager, the host's event-log source and the application window.
//
// The program is its own helper: started with "--hand-start" it runs the
// host as a process started by hand would, and with "--write-entries" it
// writes two event-log entries.
#include <gtest/gtest.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/svcCommandLine.h"
#include "platform/EventLogSink.h"
#include "platform/ServiceControl.h"
#include "platform/ServiceHost.h"
#include "platform/win32/ServiceThread.h"

namespace ormelin {
namespace {

using S = TServiceState;

// The reports of one service run, and a wait for the next ones that fails
// the test only when the service hangs.
class TRecorder {
 public:
  void Report(const TServiceStatusRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(record);
    changed_.notify_all();
  }
  void Log(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(text);
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(2),
                             [&] { return records_.size() >= count; });
  }
  std::vector<TServiceStatusRecord> Records() {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  std::vector<std::string> LogEntries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TServiceStatusRecord> records_;
  std::vector<std::string> log_;
};

TServiceThread MakeService(TRecorder& recorder) {
  return TServiceThread(
      "ZevanOrmelinS", [&recorder](const TServiceStatusRecord& r) { recorder.Report(r); },
      [&recorder](const std::string& text) { recorder.Log(text); });
}

// (state, controls accepted, check point) of each record.
std::vector<std::vector<uint32_t>> Summary(const std::vector<TServiceStatusRecord>& records) {
  std::vector<std::vector<uint32_t>> summary;
  for (const auto& r : records) {
    EXPECT_EQ(r.ServiceType, 0x10u);
    EXPECT_EQ(r.WaitHint, 5000u);
    EXPECT_EQ(r.Win32ExitCode, 0u);
    summary.push_back({r.CurrentState, r.ControlsAccepted, r.CheckPoint});
  }
  return summary;
}

TEST(ServiceThread, ReportsEachRequestsStatesInOrder) {
  TRecorder recorder;
  TServiceThread service = MakeService(recorder);
  std::thread entry([&] { service.Run({"ZevanOrmelinS", "-debug"}); });
  ASSERT_TRUE(recorder.WaitFor(3));
  service.Control(SERVICE_CONTROL_PAUSE);
  ASSERT_TRUE(recorder.WaitFor(5));
  service.Control(SERVICE_CONTROL_INTERROGATE);  // while paused
  ASSERT_TRUE(recorder.WaitFor(6));
  service.Control(SERVICE_CONTROL_CONTINUE);
  service.Control(200);  // a custom code: accepted, nothing reported
  service.Control(SERVICE_CONTROL_INTERROGATE);
  service.Control(SERVICE_CONTROL_STOP);
  entry.join();
  const std::vector<std::vector<uint32_t>> expected = {
      {2, 0, 1}, {2, 0, 2}, {4, 7, 0},  // start pending twice, running
      {6, 7, 0}, {7, 7, 0},             // pause
      {7, 7, 0},                        // interrogate
      {5, 7, 0}, {4, 7, 0},             // continue
      {4, 7, 0},                        // interrogate
      {3, 7, 0}, {1, 7, 0},             // stop, then stopped when the thread has ended
  };
  EXPECT_EQ(Summary(recorder.Records()), expected);
  EXPECT_EQ(recorder.LogEntries(), std::vector<std::string>());
  EXPECT_EQ(service.Parameters(), (std::vector<std::string>{"ZevanOrmelinS", "-debug"}));
}

// A request that comes before the service thread has its queue is kept.
TEST(ServiceThread, AStopBeforeTheThreadRunsEndsTheServiceAfterItsStart) {
  TRecorder recorder;
  TServiceThread service = MakeService(recorder);
  service.Control(SERVICE_CONTROL_SHUTDOWN);
  service.Run({"ZevanOrmelinS"});
  const std::vector<std::vector<uint32_t>> expected = {
      {2, 0, 1}, {2, 0, 2}, {4, 7, 0}, {3, 7, 0}, {1, 7, 0}};
  EXPECT_EQ(Summary(recorder.Records()), expected);
}

// Pause and continue sent as fast as the dispatcher can: a resume that
// comes while the thread is on its way to suspending itself is not lost.
TEST(ServiceThread, RapidPauseAndContinueNeverLoseAResume) {
  TRecorder recorder;
  TServiceThread service = MakeService(recorder);
  std::thread entry([&] { service.Run({"ZevanOrmelinS"}); });
  const int rounds = 300;
  for (int i = 0; i < rounds; ++i) {
    service.Control(SERVICE_CONTROL_PAUSE);
    service.Control(SERVICE_CONTROL_CONTINUE);
  }
  service.Control(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(recorder.WaitFor(3 + 4 * rounds + 2)) << "the service hangs";
  entry.join();
  std::vector<std::vector<uint32_t>> expected = {{2, 0, 1}, {2, 0, 2}, {4, 7, 0}};
  for (int i = 0; i < rounds; ++i) {
    expected.insert(expected.end(), {{6, 7, 0}, {7, 7, 0}, {5, 7, 0}, {4, 7, 0}});
  }
  expected.insert(expected.end(), {{3, 7, 0}, {1, 7, 0}});
  EXPECT_EQ(Summary(recorder.Records()), expected);
}

// A report that fails in the middle of a request: the request's word goes
// to the event log and the state found before it is reported again, but a
// shutdown ends the service all the same.
TEST(ServiceThread, AFailedRequestIsLoggedAndItsStateRestoredButShutdownEnds) {
  TRecorder recorder;
  int failures = 0;
  TServiceThread service(
      "ZevanOrmelinS",
      [&](const TServiceStatusRecord& record) {
        recorder.Report(record);
        if ((record.CurrentState == SERVICE_PAUSE_PENDING ||
             record.CurrentState == SERVICE_STOP_PENDING) &&
            failures++ < 2) {
          throw Exception("no report");
        }
      },
      [&](const std::string& text) { recorder.Log(text); });
  std::thread entry([&] { service.Run({"ZevanOrmelinS"}); });
  ASSERT_TRUE(recorder.WaitFor(3));
  service.Control(SERVICE_CONTROL_PAUSE);
  ASSERT_TRUE(recorder.WaitFor(5));
  service.Control(SERVICE_CONTROL_SHUTDOWN);
  entry.join();
  const std::vector<std::vector<uint32_t>> expected = {
      {2, 0, 1}, {2, 0, 2}, {4, 7, 0},  // started
      {6, 7, 0}, {4, 7, 0},             // pause failed: running again
      {3, 7, 0}, {1, 7, 0},             // shutdown failed, and ended
  };
  EXPECT_EQ(Summary(recorder.Records()), expected);
  EXPECT_EQ(recorder.LogEntries(),
            (std::vector<std::string>{"Service failed on pause: no report",
                                      "Service failed on shutdown: no report"}));
}

TEST(ServiceThread, AFailedStartIsLoggedAndTheServiceStops) {
  TRecorder recorder;
  int startReports = 0;
  TServiceThread service(
      "ZevanOrmelinS",
      [&](const TServiceStatusRecord& record) {
        recorder.Report(record);
        if (record.CurrentState == SERVICE_START_PENDING && ++startReports == 2) {
          throw Exception("refused");
        }
      },
      [&](const std::string& text) { recorder.Log(text); });
  service.Run({"ZevanOrmelinS"});
  const std::vector<std::vector<uint32_t>> expected = {{2, 0, 1}, {2, 0, 2}, {1, 7, 0}};
  EXPECT_EQ(Summary(recorder.Records()), expected);
  EXPECT_EQ(recorder.LogEntries(), std::vector<std::string>{"Service failed on start: refused"});
}

TEST(HostSource, IsTheExecutablesFileNameWithItsExtension) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string name = ExecutableFileName();
  EXPECT_EQ(name, "ServiceHost_win32_test.exe");
  EXPECT_EQ(ExecutablePath(), path);
  EXPECT_NE(ExecutablePath().find('\\'), std::string::npos) << ExecutablePath();
}

// What a process writes on its standard error, and its exit code.
struct TChildRun {
  DWORD ExitCode = 0;
  std::string Stderr;
};

TChildRun RunChild(const std::string& commandLine) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  TChildRun run;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return run;
  }
  CloseHandle(writeEnd);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    run.Stderr.append(buffer, got);
  }
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.ExitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
}

// Started by hand, outside the manager: the dispatcher fails at once, one
// entry under the executable's file name carries the system's text, and
// the process ends.
TEST(HandStart, WritesOneEntryUnderTheExecutablesNameAndEnds) {
  const TChildRun run = RunChild("\"" + ExecutablePath() + "\" --hand-start");
  EXPECT_EQ(run.ExitCode, 1u);
  EXPECT_EQ(run.Stderr, "ServiceHost_win32_test.exe: " +
                            SystemErrorAnsiText(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) + "\r\n");
}

TEST(EventLogSink, CopiesEachEntryAsOneLineToStandardError) {
  const TChildRun run = RunChild("\"" + ExecutablePath() + "\" --write-entries");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Stderr,
            "ZevanOrmelinS: Socket Error # 10048 Only one usage of each socket address.\r\n"
            "ServiceHost_win32_test.exe: Service failed on start: a b c\r\n");
}

TEST(SystemErrorAnsiText, IsTheSystemsTextWithoutItsLineEnd) {
  const std::string text = SystemErrorAnsiText(ERROR_SERVICE_EXISTS);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  EXPECT_NE(text.back(), ' ');
}

// The service's registration in the manager, read back.
struct TRegistration {
  DWORD Type = 0, Start = 0, ErrorControl = 0;
  std::string Binary, Group, Dependencies, Account, DisplayName;
};

bool ReadRegistration(const std::string& name, TRegistration& registration) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
  bool found = service != nullptr;
  if (found) {
    std::vector<char> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    found = QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed);
    if (found) {
      registration.Type = config->dwServiceType;
      registration.Start = config->dwStartType;
      registration.ErrorControl = config->dwErrorControl;
      registration.Binary = config->lpBinaryPathName ? config->lpBinaryPathName : "";
      registration.Group = config->lpLoadOrderGroup ? config->lpLoadOrderGroup : "";
      registration.Dependencies = config->lpDependencies ? config->lpDependencies : "";
      registration.Account = config->lpServiceStartName ? config->lpServiceStartName : "";
      registration.DisplayName = config->lpDisplayName ? config->lpDisplayName : "";
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return found;
}

std::string FailureOf(bool install, const TServiceDescription& service) {
  try {
    install ? InstallService(service) : UninstallService(service);
  } catch (const Exception& error) {
    return error.Message();
  }
  return "";
}

TEST(Registration, InstallsOnceAndRemovesOnce) {
  const TServiceDescription service{"OrmelinHostTest" + std::to_string(GetCurrentProcessId()),
                                    "Ormelin Host Test", ExecutablePath(), "", ""};
  ASSERT_EQ(FailureOf(true, service), "");
  TRegistration registration;
  ASSERT_TRUE(ReadRegistration(service.Name, registration));
  EXPECT_EQ(registration.Type, 0x10u);
  EXPECT_EQ(registration.Start, 2u);
  EXPECT_EQ(registration.ErrorControl, 1u);
  EXPECT_EQ(registration.Binary, ExecutablePath());
  EXPECT_EQ(registration.DisplayName, "Ormelin Host Test");
  EXPECT_EQ(registration.Group, "");
  EXPECT_EQ(registration.Dependencies, "");
  EXPECT_EQ(registration.Account, "LocalSystem");

  // A second installation fails at creation with the system's error.
  EXPECT_EQ(FailureOf(true, service),
            SystemErrorReport(ERROR_SERVICE_EXISTS, SystemErrorAnsiText(ERROR_SERVICE_EXISTS)));
  EXPECT_EQ(FailureOf(false, service), "");
  EXPECT_FALSE(ReadRegistration(service.Name, registration));
  // Removing a service that does not exist fails likewise.
  EXPECT_EQ(FailureOf(false, service),
            SystemErrorReport(ERROR_SERVICE_DOES_NOT_EXIST,
                              SystemErrorAnsiText(ERROR_SERVICE_DOES_NOT_EXIST)));
}

TEST(ApplicationWindow, IgnoresTheEndOfTheSession) {
  TServiceApplication application;
  HWND window = FindWindowA(kApplicationWindowClass, nullptr);
  if (window == nullptr) {
    // Wine without a display creates no window at all; the host then ends
    // its loop through the main thread's queue.
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (probe == nullptr) GTEST_SKIP() << "no window can be created here (no display)";
    DestroyWindow(probe);
  }
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageA(window, WM_ENDSESSION, TRUE, 0), 0);
  EXPECT_TRUE(IsWindow(window));
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    EXPECT_NE(message.message, static_cast<UINT>(WM_QUIT));
  }
}

// The program's copy that the manager runs as the service "OrmelinHostService".
const char* const kServiceName = "OrmelinHostService";
const char* const kServiceExecutable = "OrmelinHostService.exe";

// The state the manager reports, after waiting while it is pending on the
// way to `wanted` (the wait fails the test only when the service hangs).
SERVICE_STATUS_PROCESS WaitForState(SC_HANDLE service, DWORD wanted) {
  SERVICE_STATUS_PROCESS status{};
  for (int attempt = 0; attempt < 1200; ++attempt) {
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
      ADD_FAILURE() << "QueryServiceStatusEx: " << GetLastError();
      break;
    }
    if (status.dwCurrentState == wanted) break;
    Sleep(50);
  }
  return status;
}

// The whole life of the host under the service control manager: the
// manager starts the service's own process, pause and continue change only
// the reported state, and a stop ends the process.
TEST(ServiceUnderTheManager, StartsPausesContinuesAndStopsItsProcess) {
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string copy = std::string(folder) + kServiceExecutable;
  ASSERT_TRUE(CopyFileA(ExecutablePath().c_str(), copy.c_str(), FALSE)) << GetLastError();
  const TServiceDescription description{kServiceName, "Ormelin Host Service", copy, "", ""};
  ASSERT_EQ(FailureOf(true, description), "");

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  SERVICE_STATUS_PROCESS status = WaitForState(service, SERVICE_RUNNING);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(status.dwControlsAccepted, 7u);
  EXPECT_EQ(status.dwCheckPoint, 0u);
  EXPECT_EQ(status.dwWaitHint, 5000u);
  HANDLE process =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
  EXPECT_NE(process, nullptr);

  SERVICE_STATUS reply{};
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_PAUSE, &reply)) << GetLastError();
  EXPECT_EQ(WaitForState(service, SERVICE_PAUSED).dwCurrentState,
            static_cast<DWORD>(SERVICE_PAUSED));
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &reply)) << GetLastError();
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_CONTINUE, &reply)) << GetLastError();
  EXPECT_EQ(WaitForState(service, SERVICE_RUNNING).dwCurrentState,
            static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &reply)) << GetLastError();
  EXPECT_EQ(WaitForState(service, SERVICE_STOPPED).dwCurrentState,
            static_cast<DWORD>(SERVICE_STOPPED));
  if (process != nullptr) {
    EXPECT_EQ(WaitForSingleObject(process, 120000), WAIT_OBJECT_0) << "the process goes on";
    DWORD exitCode = 99;
    GetExitCodeProcess(process, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(process);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(FailureOf(false, description), "");
  DeleteFileA(copy.c_str());
}

// The helper modes of this program.
int RunAsService() {
  TServiceApplication application;
  const TServiceDescription service{kServiceName, "Ormelin Host Service", ExecutablePath(), "", ""};
  return application.Run(service, ExecutableFileName()) ? 0 : 1;
}

int HandStart() {
  TServiceApplication application;
  const TServiceDescription service{"ZevanOrmelinS", "Ormelin Server", ExecutablePath(), "", ""};
  return application.Run(service, ExecutableFileName()) ? 0 : 1;
}

int WriteEntries() {
  WriteEventLogEntry("ZevanOrmelinS",
                     "Socket Error # 10048\r\nOnly one usage of each socket address.");
  WriteEventLogEntry(ExecutableFileName(), ServiceFailureText("start", "a\nb\rc"));
  return 0;
}

}  // namespace
}  // namespace ormelin

int main(int argc, char** argv) {
  if (ormelin::ExecutableFileName() == ormelin::kServiceExecutable) return ormelin::RunAsService();
  if (argc > 1 && std::string(argv[1]) == "--hand-start") return ormelin::HandStart();
  if (argc > 1 && std::string(argv[1]) == "--write-entries") return ormelin::WriteEntries();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

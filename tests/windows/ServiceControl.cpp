// A small Windows program for the end-to-end test of the service host:
// sends control requests that Wine's own tools cannot (pause, continue),
// and reads and closes the host's message boxes.
//
//   ServiceControl <service> pause|continue|interrogate|stop|started|query
//     sends the request (none for started and query), waits until the service reports
//     the state the request leads to (paused, running, stopped; running
//     for started), and prints
//     the state the manager reports (1 stopped, 4 running, 7 paused, ...)
//     and the service's process id.
//   ServiceControl --read-box <title>
//     waits for a message box with that title, prints its text and presses
//     its button.
//   ServiceControl --wait-process <process id>
//     waits until the process has ended and prints "ended".
// Exit code 0 on success; 1 with a message on standard error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "%s failed: %lu\n", what, static_cast<unsigned long>(GetLastError()));
  return 1;
}

int Control(const char* name, const char* request) {
  // The request, and the state it leads to (0: none to wait for).
  DWORD code = 0;
  DWORD target = 0;
  if (std::strcmp(request, "pause") == 0) {
    code = SERVICE_CONTROL_PAUSE;
    target = SERVICE_PAUSED;
  } else if (std::strcmp(request, "continue") == 0) {
    code = SERVICE_CONTROL_CONTINUE;
    target = SERVICE_RUNNING;
  } else if (std::strcmp(request, "interrogate") == 0) {
    code = SERVICE_CONTROL_INTERROGATE;
  } else if (std::strcmp(request, "stop") == 0) {
    code = SERVICE_CONTROL_STOP;
    target = SERVICE_STOPPED;
  } else if (std::strcmp(request, "started") == 0) {
    target = SERVICE_RUNNING;  // no request: waits until the start is over
  } else if (std::strcmp(request, "query") != 0) {
    std::fprintf(stderr, "unknown request %s\n", request);
    return 1;
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return Fail("OpenSCManagerA");
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (service == nullptr) return Fail("OpenServiceA");
  SERVICE_STATUS reply{};
  if (code != 0 && !ControlService(service, code, &reply)) return Fail("ControlService");
  SERVICE_STATUS_PROCESS status{};
  // Two minutes at most: a service that takes that long hangs.
  for (int attempt = 0; attempt < 2400; ++attempt) {
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
      return Fail("QueryServiceStatusEx");
    }
    // The service reports the request's states after the manager has
    // handed it over, so the state seen at first may still be the old one.
    if (target == 0 || status.dwCurrentState == target) break;
    Sleep(50);
  }
  std::printf("%lu %lu\n", static_cast<unsigned long>(status.dwCurrentState),
              static_cast<unsigned long>(status.dwProcessId));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return 0;
}

BOOL CALLBACK CollectText(HWND child, LPARAM text) {
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") != 0) return TRUE;
  char buffer[4096] = {};
  GetWindowTextA(child, buffer, sizeof buffer);
  if (buffer[0] != '\0') *reinterpret_cast<std::string*>(text) += buffer;
  return TRUE;
}

int ReadBox(const char* title) {
  HWND box = nullptr;
  for (int attempt = 0; attempt < 2400 && box == nullptr; ++attempt) {
    box = FindWindowA("#32770", title);
    if (box == nullptr) Sleep(50);
  }
  if (box == nullptr) {
    std::fprintf(stderr, "no message box titled %s\n", title);
    return 1;
  }
  std::string text;
  EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::printf("\n");
  std::fflush(stdout);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  return 0;
}

int WaitProcess(const char* id) {
  HANDLE process =
      OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(id, nullptr, 10)));
  // A process that is gone already cannot be opened.
  if (process != nullptr) {
    DWORD waited = WaitForSingleObject(process, 120000);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0) {
      std::fprintf(stderr, "process %s goes on\n", id);
      return 1;
    }
  }
  std::printf("ended\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--read-box") == 0) return ReadBox(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--wait-process") == 0) return WaitProcess(argv[2]);
  if (argc == 3) return Control(argv[1], argv[2]);
  std::fprintf(stderr,
               "usage: ServiceControl <service> pause|continue|interrogate|stop|started|query\n"
               "       ServiceControl --read-box <title>\n"
               "       ServiceControl --wait-process <process id>\n");
  return 1;
}

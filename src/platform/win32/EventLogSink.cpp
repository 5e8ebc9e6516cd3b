// The Windows event log: one source per name, registered on its first entry
// and deregistered when the process ends. No message file is registered,
// so the viewer shows each entry's one string as it stands.
#include "platform/EventLogSink.h"

#include <windows.h>

#include <map>
#include <string>

#include "platform/Mutex.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

class TEventSources {
 public:
  TEventSources() = default;
  TEventSources(const TEventSources&) = delete;
  TEventSources& operator=(const TEventSources&) = delete;
  ~TEventSources() {
    TMutexLock lock(mutex_);
    for (auto& [name, handle] : sources_) DeregisterEventSource(handle);
  }

  // One error entry, category 0 and event id 0, the text as its only
  // string, no user and no raw data.
  void Write(std::string_view source, const std::string& text) {
    TMutexLock lock(mutex_);
    auto found = sources_.find(std::string(source));
    if (found == sources_.end()) {
      HANDLE handle = RegisterEventSourceA(nullptr, std::string(source).c_str());
      if (handle == nullptr) return;  // nowhere to report that
      found = sources_.emplace(std::string(source), handle).first;
    }
    const char* strings[] = {text.c_str()};
    ReportEventA(found->second, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  }

 private:
  TMutex mutex_;
  std::map<std::string, HANDLE> sources_ GUARDED_BY(mutex_);
};

// A process that has a standard error (one started by hand from a console)
// shows the entry there too; a service has none.
void CopyToStandardError(std::string_view source, std::string_view text) {
  HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  std::string line = std::string(source) + ": " + LineBreaksToBlanks(text) + "\r\n";
  DWORD written = 0;
  WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void WriteEventLogEntry(std::string_view source, std::string_view message) {
  static TEventSources sources;
  sources.Write(source, std::string(message));
  CopyToStandardError(source, message);
}

}  // namespace ormelin

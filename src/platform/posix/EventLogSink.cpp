#include "platform/EventLogSink.h"

#include <syslog.h>
#include <unistd.h>

#include <string>

#include "platform/Mutex.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

TMutex sinkMutex;
std::string openedSource GUARDED_BY(sinkMutex);  // syslog keeps a pointer to it

}  // namespace

void WriteEventLogEntry(std::string_view source, std::string_view message) {
  std::string text = LineBreaksToBlanks(message);
  std::string line = std::string(source) + ": " + text + "\n";
  TMutexLock lock(sinkMutex);
  if (openedSource.empty() || openedSource != source) {
    closelog();
    openedSource = std::string(source);
    openlog(openedSource.c_str(), LOG_PID, LOG_DAEMON);
  }
  syslog(LOG_ERR, "%s", text.c_str());
  size_t written = 0;
  while (written < line.size()) {
    ssize_t n = write(STDERR_FILENO, line.data() + written, line.size() - written);
    if (n <= 0) break;  // nowhere to report a failing standard error
    written += static_cast<size_t>(n);
  }
}

}  // namespace ormelin

#include "platform/EventLogSink.h"

#include <syslog.h>
#include <unistd.h>

#include <string>

#include "platform/Mutex.h"

namespace ormelin {
namespace {

TMutex sinkMutex;
std::string openedSource GUARDED_BY(sinkMutex);  // syslog keeps a pointer to it

// One line: each line break (CR LF, CR or LF) becomes one blank.
std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line.push_back(' ');
    } else {
      line.push_back(text[i]);
    }
  }
  return line;
}

}  // namespace

void WriteEventLogEntry(std::string_view source, std::string_view message) {
  std::string text = OneLine(message);
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

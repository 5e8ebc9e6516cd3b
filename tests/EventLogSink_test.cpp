#include "platform/EventLogSink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/TempFolder.h"

namespace ormelin {
namespace {

// Runs `write` with standard error sent to a file and returns what arrived.
template <typename F>
std::string CaptureStandardError(F write) {
  testing::TTempFolder temp;
  const std::string path = temp.Path() + "/stderr";
  int saved = dup(STDERR_FILENO);
  FILE* file = std::fopen(path.c_str(), "w");
  dup2(fileno(file), STDERR_FILENO);
  write();
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::fclose(file);
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(EventLogSinkTest, EachEntryIsOneLineOnStandardError) {
  std::string written = CaptureStandardError([] {
    WriteEventLogEntry("ZevanOrmelinS", "Socket Error # 10048\r\nAddress already in use.");
    WriteEventLogEntry("orServer", "Service failed on Start: a\nb\rc");
  });
  EXPECT_EQ(written,
            "ZevanOrmelinS: Socket Error # 10048 Address already in use.\n"
            "orServer: Service failed on Start: a b c\n");
}

}  // namespace
}  // namespace ormelin

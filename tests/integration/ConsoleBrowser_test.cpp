// The web console in a real browser: starts ormelin-server with a project and
// a log of 50 client greetings, then runs tests/browser/console.test.mjs
// (headless Chromium through playwright-core), which stops and starts the
// listener, saves new settings, pages through and filters the event log and
// saves a screenshot of each page into <build>/browser-artifacts/.
// Test label: long
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/ServerProcess.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::FreePortPair;
using test::TRawClient;
using test::TServerProcess;

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Runs the command through the shell; its exit status, the output in `output`.
int RunCommand(const std::string& command, std::string& output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ConsoleBrowser, TheConsoleWorksInHeadlessChromium) {
  const std::string browserFolder = std::string(ORMELIN_SOURCE_DIR) + "/tests/browser";
  ASSERT_TRUE(fs::exists("/usr/bin/chromium")) << "scripts/setup installs chromium";
  ASSERT_TRUE(fs::exists(browserFolder + "/node_modules/playwright-core"))
      << "scripts/setup installs playwright-core (npm ci in tests/browser)";

  TServerProcess server;
  const std::string project = server.Folder() + "/projekt";
  fs::create_directory(project);
  const int port = server.StartWithProjects({{"Demo", project}});
  ASSERT_TRUE(server.WaitForPort(port + 1)) << server.Stderr();
  {
    TRawClient client(port);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    for (int i = 0; i < 50; ++i) {
      client.Send("Hello\r\n");
      ASSERT_EQ(client.ReadLine(), "201 Ready\r\n");
    }
  }

  const int newPort = FreePortPair();
  // The browser sends the form in the page's code page: "č" arrives as one
  // byte and names the folder in UTF-8 on disk.
  const std::string newRoot = server.Folder() + "/nova mapa \xC4\x8D";
  const std::string artifacts = std::string(ORMELIN_BIN_DIR) + "/../browser-artifacts";
  fs::create_directories(artifacts);

  std::string output;
  const int status =
      RunCommand("cd " + Quoted(browserFolder) + " && timeout 300 node console.test.mjs " +
                     std::to_string(port + 1) + " " + std::to_string(port) + " " +
                     std::to_string(newPort) + " " + Quoted(newRoot) + " " + Quoted(artifacts),
                 output);
  EXPECT_EQ(status, 0) << output << "\nserver:\n" << server.Stderr();
  EXPECT_NE(output.find("all checks passed"), std::string::npos) << output;

  EXPECT_TRUE(fs::is_directory(newRoot));
  std::ifstream file(server.Folder() + "/orServer.xml", std::ios::binary);
  std::stringstream config;
  config << file.rdbuf();
  EXPECT_NE(config.str().find("<defaultport>" + std::to_string(newPort) + "</defaultport>"),
            std::string::npos)
      << config.str();
  EXPECT_NE(config.str().find("<path>" + server.Folder() + "/nova mapa \xE8</path>"),
            std::string::npos)
      << config.str();
  for (const char* name :
       {"01-status", "02-stopped", "04-settings-saved", "05-eventlog-page1", "06-eventlog-page2",
        "07-eventlog-filtered", "09-about", "10-failed-action"}) {
    EXPECT_TRUE(fs::exists(artifacts + "/" + name + ".png")) << name;
  }
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace ormelin

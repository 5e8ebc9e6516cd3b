#include "web/VersionText.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Resources.h"
#include "web/ResourceGet.h"

namespace ormelin {
namespace {

// An information text in the version-control layout, lines joined by `eol`.
std::string Info(const std::string& url, const char* lastChanged, const char* revision,
                 const std::string& eol = "\r\n") {
  std::string text = "Path: .";
  text += eol + "URL: " + url;
  text += eol + "Repository Root: http://svn.zevan.local/demosvn/ormelin";
  text += eol + "Repository UUID: 5b1c34c2-1f3e-0b4d-8e4e-0d2a0a1b2c3d";
  if (revision) text += eol + "Revision: " + revision;
  text += eol + "Node Kind: directory" + eol + "Schedule: normal";
  text += eol + "Last Changed Author: ivan";
  if (lastChanged) text += eol + "Last Changed Rev: " + lastChanged;
  text += eol + "Last Changed Date: 2009-03-02 10:11:12 +0100 (pon, 02 o\x9Ej 2009)" + eol + eol;
  return text;
}

const std::string kStable = "http://svn.zevan.local/demosvn/ormelin/branches/stable-1.1/OrmelinS";

TEST(ShortVersionForm, Lines) {
  struct {
    std::string info;
    const char* expected;
  } cases[] = {
      {Info(kStable, "116", "117"), "OrmelinS-branches/stable-1.1@116 (117)"},
      {Info("http://svn/demosvn/ormelin/trunk/OrmelinS", "116", "117"), "OrmelinS-trunk@116 (117)"},
      {Info(kStable, "116", "117", "\n"), "OrmelinS-branches/stable-1.1@116 (117)"},
      {Info(kStable, "116", "117", "\r"), "OrmelinS-branches/stable-1.1@116 (117)"},
      {Info("http://svn.zevan.local/demosvn/other/trunk/OrmelinS", "116", "117"), "-@116 (117)"},
      {Info("http://svn.zevan.local/demosvn/ormelin/trunk/Ormelin-S", "116", "117"), "-@116 (117)"},
      {Info("https://svn.zevan.local/demosvn/ormelin/trunk/OrmelinS", "116", "117"), "-@116 (117)"},
      {Info(kStable, nullptr, "117"), "OrmelinS-branches/stable-1.1@ (117)"},
      {Info(kStable, "116", nullptr), "OrmelinS-branches/stable-1.1@116 ()"},
      {Info(kStable, "11a", "117"), "OrmelinS-branches/stable-1.1@ (117)"},
      {"Revision: 9\r\nURL: " + kStable + "\r\nLast Changed Rev: 8",
       "OrmelinS-branches/stable-1.1@8 (9)"},
      {" Revision: 9\r\n", "-@ ()"},
      {"", "-@ ()"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info);
    EXPECT_EQ(ShortVersionForm(c.info), c.expected);
  }
}

TEST(ParseVersionInfo, ReadsTheNamedResource) {
  RegisterResource("TEST_VERSION_INFO", "TEXT",
                   "URL: http://h/demosvn/ormelin/trunk/Comparer\r\n"
                   "Revision: 5\r\nLast Changed Rev: 4\r\n");
  EXPECT_EQ(ParseVersionInfo("test_version_info"), "Comparer-trunk@4 (5)");
  EXPECT_THROW(ParseVersionInfo("NO_SUCH_INFO"), EResNotFound);
}

// The texts the build made from the git history fit the patterns.
TEST(VersionText, BuiltFromTheStoredTexts) {
  const std::string text = VersionText();
  EXPECT_TRUE(std::regex_match(
      text,
      std::regex(
          R"(OrmelinS-(trunk|branches/.+)@\d+ \(\d+\) / Comparer-(trunk|branches/.+)@\d+ \(\d+\))")))
      << text;
  EXPECT_EQ(text, ParseVersionInfo("SVN_INFO") + " / " + ParseVersionInfo("SVN_INFO_COMPARER"));
}

}  // namespace
}  // namespace ormelin

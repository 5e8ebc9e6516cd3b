#include "server/uServerCommands.h"

#include <gtest/gtest.h>

namespace ormelin {
namespace {

struct TLineCase {
  const char* Line;
  TServerCommand Command;
  const char* Project;
  const char* Path;
};

TEST(ParseCommandLine, CutsFieldsAtSingleSpaces) {
  const TLineCase cases[] = {
      {"Hello", TServerCommand::Hello, "", ""},
      {"hello", TServerCommand::Hello, "", ""},
      {"HELLO there and more", TServerCommand::Hello, "", ""},
      {"Helloo", TServerCommand::Unknown, "", ""},
      {"Hell", TServerCommand::Unknown, "", ""},
      {"", TServerCommand::Unknown, "", ""},
      {" Hello", TServerCommand::Unknown, "", ""},
      {"Sync Demo", TServerCommand::Sync, "Demo", ""},
      {"sync Demo ignored words", TServerCommand::Sync, "Demo", ""},
      {"Sync  Demo", TServerCommand::Sync, "", ""},
      {"Sync", TServerCommand::Sync, "", ""},
      {"GetFile Demo \\Upute za rad.txt", TServerCommand::GetFile, "Demo", "\\Upute za rad.txt"},
      {"GETFILE Demo  two", TServerCommand::GetFile, "Demo", " two"},
      {"GetFile Demo", TServerCommand::GetFile, "Demo", ""},
      {"GetFile", TServerCommand::GetFile, "", ""},
  };
  for (const TLineCase& c : cases) {
    TCommandLine parsed = ParseCommandLine(c.Line);
    EXPECT_EQ(parsed.Command, c.Command) << c.Line;
    EXPECT_EQ(parsed.Project, c.Project) << c.Line;
    EXPECT_EQ(parsed.Path, c.Path) << c.Line;
  }
}

TEST(FailureLine, TurnsEachCrLfIntoOneBlankAndKeepsLoneEnds) {
  EXPECT_EQ(FailureLine("Socket Error # 10054\r\nConnection reset by peer."),
            "500-Socket Error # 10054 Connection reset by peer.");
  EXPECT_EQ(FailureLine("a\rb\nc\r\n\r\nd"), "500-a\rb\nc  d");
  EXPECT_EQ(FailureLine(""), "500-");
}

TEST(ClientTexts, MarkupIsEscapedButMessageQuotesStay) {
  EXPECT_EQ(ClientText("<b>&"), "&lt;b&gt;&amp;");
  std::string quoted = ClientText("x\" onmouseover='y'");
  EXPECT_EQ(quoted.find('"'), std::string::npos) << quoted;
  EXPECT_EQ(quoted.find('\''), std::string::npos) << quoted;
  EXPECT_EQ(ClientText(std::string("a\0b", 3)), "a?b");
  EXPECT_EQ(MessageAsText("'<script>' is not a valid integer value"),
            "'&lt;script&gt;' is not a valid integer value");
  EXPECT_EQ(MessageAsText("Cannot open file \"/srv/a&b\". No such file"),
            "Cannot open file \"/srv/a&amp;b\". No such file");
}

}  // namespace
}  // namespace ormelin

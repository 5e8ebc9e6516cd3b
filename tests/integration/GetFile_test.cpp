// GetFile against the real executable: exact bytes on the wire, the paths a
// client may send, and the ones that must never leave the project's root.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/ServerProcess.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::TRawClient;
using test::TServerProcess;
using test::WriteFile;

std::string BigContent() {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
  return bytes;
}

class GetFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new TServerProcess();
    fs::path root = fs::path(server_->Folder()) / "project";
    fs::create_directories(root / "sub");
    fs::create_directories(fs::path(server_->Folder()) / "outside");
    WriteFile(root / "empty.txt", "");
    WriteFile(root / "a b c.txt", "spaces\r\n");
    WriteFile(root / "sub" / "inner.txt", "inner");
    WriteFile(root / "\xC4\x8C\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91.txt", "croatian");  // UTF-8 on disk
    WriteFile(root / "big.bin", BigContent());
    WriteFile(fs::path(server_->Folder()) / "outside" / "secret.txt", "secret");
    fs::create_directory_symlink(fs::path(server_->Folder()) / "outside", root / "link");
    fs::create_directory_symlink("sub", root / "inside");
    std::string path = root.string();
    port_ = server_->StartWithProjects(
        {{"Demo", path}, {"Slash", path + "/"}, {"Backslash", path + "\\"}});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  static TServerProcess* server_;
  static int port_;
};

TServerProcess* GetFile::server_ = nullptr;
int GetFile::port_ = 0;

struct TServedCase {
  const char* Line;
  std::string Content;
};

TEST_F(GetFile, ServesEachFileWithItsExactBytesOnOneConnection) {
  const TServedCase cases[] = {
      {"GetFile Demo \\a b c.txt", "spaces\r\n"},
      {"GetFile Demo a b c.txt", "spaces\r\n"},
      {"GetFile demo \\sub\\inner.txt", "inner"},
      {"GetFile DEMO /sub/inner.txt", "inner"},
      {"GetFile Demo \\\\sub\\\\\\inner.txt", "inner"},
      {"GetFile Demo \\.\\sub\\.\\inner.txt", "inner"},
      {"GetFile Demo \\\xC8\xE6\x9E\x9A\xF0.txt", "croatian"},  // code page 1250 on the wire
      {"GetFile Demo \\inside\\inner.txt", "inner"},            // a link that stays inside
      {"GetFile Slash \\sub\\inner.txt", "inner"},
      {"GetFile Backslash \\sub\\inner.txt", "inner"},
      {"GetFile Demo \\big.bin", BigContent()},
  };
  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  for (const TServedCase& c : cases) {
    client.Send(std::string(c.Line) + "\r\n");
    ASSERT_EQ(client.ReadLine(), "203 Get File Started\r\n") << c.Line;
    EXPECT_EQ(client.ReadLine(), std::to_string(c.Content.size()) + "\r\n") << c.Line;
    EXPECT_TRUE(client.ReadExactly(c.Content.size()) == c.Content) << c.Line;
  }
}

TEST_F(GetFile, AnEmptyFileIsTheSizeLineZeroAndTheConnectionGoesOn) {
  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("GetFile Demo \\empty.txt\r\nHello\r\n");
  EXPECT_EQ(client.ReadLine(), "203 Get File Started\r\n");
  EXPECT_EQ(client.ReadLine(), "0\r\n");
  EXPECT_EQ(client.ReadLine(), "201 Ready\r\n");
}

struct TRefusedCase {
  std::string Path;
  const char* Reason;  // a part of the message after the path, or null
};

TEST_F(GetFile, RefusesFoldersMissingFilesAndEveryWayOutOfTheRoot) {
  const std::string outside = "The path leads outside the project's root folder.";
  const TRefusedCase cases[] = {
      {"\\sub", nullptr},
      {"", nullptr},
      {"\\missing.txt", "No such file or directory"},
      {"\\link\\secret.txt", "No such file or directory"},  // as if it were missing
      {"\\..\\..\\etc\\passwd", outside.c_str()},
      {"/../outside/secret.txt", outside.c_str()},
      {"\\\\..\\\\outside\\\\secret.txt", outside.c_str()},
      {"\\..", outside.c_str()},
      {"..\\project\\a b c.txt", outside.c_str()},
      {"\\sub\\..\\..\\outside\\secret.txt", outside.c_str()},
      {std::string("\\a b c.txt\0.x", 13), "The path contains a NUL character."},
  };
  for (const TRefusedCase& c : cases) {
    TRawClient client(port_);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("GetFile Demo " + c.Path + "\r\n");
    std::string failure = client.ReadLine();
    EXPECT_EQ(failure.rfind("500-Cannot open file \"", 0), 0u) << failure;
    if (c.Reason != nullptr) {
      EXPECT_NE(failure.find(std::string("\". ") + c.Reason + "\r\n"), std::string::npos)
          << failure;
    }
    EXPECT_EQ(client.ReadLine(), "500 Better luck next time\r\n") << c.Path;
    EXPECT_TRUE(client.WaitClosed()) << c.Path;
  }
}

TEST_F(GetFile, AnUnknownProjectFailsWithTheClientsLinkAndItsTextsAsSent) {
  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("GetFile <i>Nope</i> \\a<b>.txt\r\n");
  std::string failure = client.ReadLine();
  EXPECT_EQ(failure.rfind("500-Klijent <A HREF=\"http://", 0), 0u) << failure;
  EXPECT_NE(failure.find(":" + std::to_string(port_ + 2) + "/\">"), std::string::npos) << failure;
  EXPECT_NE(failure.find(" [127.0.0.1]</A> tra\x9Ei datoteku \\a<b>.txt nepostoje\xE6"
                         "eg projekta <i>Nope</i>\r\n"),
            std::string::npos)
      << failure;
  EXPECT_EQ(client.ReadLine(), "500 Better luck next time\r\n");
  EXPECT_TRUE(client.WaitClosed());
}

TEST_F(GetFile, AClientThatGoesAwayMidTransferEndsOnlyItsOwnConnection) {
  for (int round = 0; round < 3; ++round) {
    TRawClient leaver(port_);
    ASSERT_EQ(leaver.ReadLine(), "200 Ready\r\n");
    leaver.Send("GetFile Demo \\big.bin\r\n");
    ASSERT_EQ(leaver.ReadLine(), "203 Get File Started\r\n");
    leaver.ReadExactly(100);
    leaver.Close();  // unread bytes pending: the server's sends meet a reset
  }
  TRawClient next(port_);
  ASSERT_EQ(next.ReadLine(), "200 Ready\r\n");
  next.Send("GetFile Demo \\sub\\inner.txt\r\n");
  EXPECT_EQ(next.ReadLine(), "203 Get File Started\r\n");
  EXPECT_EQ(next.ReadStream(), "inner");
  EXPECT_TRUE(server_->Running());
}

TEST_F(GetFile, TwoClientsFetchTheSameFileAtOnce) {
  const std::string expected = BigContent();
  TRawClient first(port_);
  TRawClient second(port_);
  ASSERT_EQ(first.ReadLine(), "200 Ready\r\n");
  ASSERT_EQ(second.ReadLine(), "200 Ready\r\n");
  first.Send("GetFile Demo \\big.bin\r\n");
  second.Send("GetFile Demo \\big.bin\r\n");
  // Both transfers are open before either is read to its end.
  ASSERT_EQ(first.ReadLine(), "203 Get File Started\r\n");
  ASSERT_EQ(second.ReadLine(), "203 Get File Started\r\n");
  std::string secondBytes;
  std::thread reader([&] { secondBytes = second.ReadStream(); });
  std::string firstBytes = first.ReadStream();
  reader.join();
  EXPECT_TRUE(firstBytes == expected);
  EXPECT_TRUE(secondBytes == expected);
}

}  // namespace
}  // namespace ormelin

// The synchronisation protocol against the real executable, with raw bytes:
// command words, Sync with the client's tree, failures, and hostile clients
// that must not keep the others from being served.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/ServerProcess.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::TRawClient;
using test::TServerProcess;
using test::WriteFile;

// Sets a local modification time (whole seconds, even, so the DOS rounding
// keeps it).
void SetLocalTime(const fs::path& path, int year, int month, int day, int hour, int minute,
                  int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  timeval times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  utimes(path.c_str(), times);
}

// The tree XML a client sends: the server's layout below, with the times
// given in the tree's text form.
std::string Tree(std::string_view body) {
  return "<tree>" + std::string(body) + "</tree>";
}
std::string File(std::string_view name, std::string_view time) {
  return "<file><name>" + std::string(name) + "</name><datemodified>" + std::string(time) +
         "</datemodified></file>";
}

std::string Framed(std::string_view payload) {
  return std::to_string(payload.size()) + "\r\n" + std::string(payload);
}

class SyncProtocol : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new TServerProcess();
    fs::path root = fs::path(server_->Folder()) / "project";
    fs::create_directories(root / "doc");
    WriteFile(root / "a.txt", "a");
    WriteFile(root / "doc" / "b.txt", "b");
    SetLocalTime(root / "a.txt", 2020, 5, 17, 10, 20, 30);
    SetLocalTime(root / "doc" / "b.txt", 2020, 5, 17, 10, 20, 30);
    SetLocalTime(root / "doc", 2020, 5, 17, 10, 20, 30);
    port_ = server_->StartWithProjects(
        {{"Demo", root.string()}, {"Missing", (fs::path(server_->Folder()) / "none").string()}});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  // Greeted connection.
  static std::unique_ptr<TRawClient> Connect() {
    auto client = std::make_unique<TRawClient>(port_);
    EXPECT_EQ(client->ReadLine(), "200 Ready\r\n");
    return client;
  }

  // Sync with the tree; the task-list XML.
  static std::string Sync(TRawClient& client, const std::string& project, const std::string& tree) {
    client.Send("Sync " + project + "\r\n");
    EXPECT_EQ(client.ReadLine(), "202 Sync Started\r\n");
    client.Send(Framed(tree));
    return client.ReadStream();
  }

  static void ExpectFailure(TRawClient& client, const std::string& message) {
    EXPECT_EQ(client.ReadLine(), "500-" + message + "\r\n");
    EXPECT_EQ(client.ReadLine(), "500 Better luck next time\r\n");
    EXPECT_TRUE(client.WaitClosed());
  }

  static std::string SameTree() {
    return Tree(File("a.txt", "2020-05-17 10-20-30") +
                "<directory><name>doc</name><datemodified>2020-05-17 10-20-30</datemodified>" +
                File("b.txt", "2020-05-17 10-20-30") + "</directory>");
  }

  static TServerProcess* server_;
  static int port_;
};

TServerProcess* SyncProtocol::server_ = nullptr;
int SyncProtocol::port_ = 0;

struct TReplyCase {
  const char* Sent;
  const char* Reply;
};

TEST_F(SyncProtocol, CommandWordsAndRepliesOnOneConnection) {
  const TReplyCase cases[] = {
      {"Hello\r\n", "201 Ready\r\n"},
      {"hello\n", "201 Ready\r\n"},
      {"HELLO and more words\r\n", "201 Ready\r\n"},
      {"Helloo\r\n", "400 Unknown Command\r\n"},
      {"Hell\r\n", "400 Unknown Command\r\n"},
      {"\r\n", "400 Unknown Command\r\n"},
      {" Hello\r\n", "400 Unknown Command\r\n"},
      {"Sync  Demo\r\n", "401 Project '' does not exist\r\n"},
      {"Sync Nope\r\n", "401 Project 'Nope' does not exist\r\n"},
      {"sync <b>x</b>\r\n", "401 Project '<b>x</b>' does not exist\r\n"},
      {"Hello\r\nHello\r\n", "201 Ready\r\n201 Ready\r\n"},  // two commands in one packet
  };
  auto client = Connect();
  for (const TReplyCase& c : cases) {
    client->Send(c.Sent);
    std::string reply = client->ReadLine();
    if (std::string(c.Reply).size() > reply.size()) reply += client->ReadLine();
    EXPECT_EQ(reply, c.Reply) << c.Sent;
  }
}

TEST_F(SyncProtocol, AnIdenticalTreeGetsTheEmptyStreamAndTheConnectionGoesOn) {
  auto client = Connect();
  client->Send("Sync dEMO\r\n");
  EXPECT_EQ(client->ReadLine(), "202 Sync Started\r\n");
  client->Send(Framed(SameTree()) + "Hello\r\n");
  EXPECT_EQ(client->ReadLine(), "0\r\n");
  EXPECT_EQ(client->ReadLine(), "201 Ready\r\n");
}

TEST_F(SyncProtocol, OnlyOlderOrMissingEntriesGetTasksAndNothingIsEverDeleted) {
  auto client = Connect();
  // Newer on the client, extra entries only the client has: no task at all.
  std::string newerAndExtra =
      Tree(File("a.txt", "2021-01-01 00-00-00") + File("extra.txt", "2020-01-01 00-00-00") +
           "<directory><name>doc</name>" + File("b.txt", "2020-05-17 10-20-30") +
           "</directory><directory><name>only-client</name></directory>");
  EXPECT_EQ(Sync(*client, "Demo", newerAndExtra), "");

  // Older on the client: one update.
  std::string older = Tree(File("a.txt", "2020-05-17 10-20-28") + "<directory><name>doc</name>" +
                           File("b.txt", "2020-05-17 10-20-30") + "</directory>");
  std::string tasks = Sync(*client, "Demo", older);
  EXPECT_NE(tasks.find("<task>update_file\r\n<param>\\a.txt,"), std::string::npos) << tasks;
  EXPECT_EQ(tasks.find("insert_"), std::string::npos) << tasks;

  // An empty tree: the whole project is inserted.
  tasks = Sync(*client, "Demo", "<tree></tree>");
  EXPECT_NE(tasks.find("<task>insert_file\r\n<param>\\a.txt,"), std::string::npos) << tasks;
  EXPECT_NE(tasks.find("<task>insert_dir\r\n<param>\\doc</param>"), std::string::npos) << tasks;
  EXPECT_NE(tasks.find("<task>insert_file\r\n<param>\\doc\\b.txt,"), std::string::npos) << tasks;
  EXPECT_EQ(tasks.find("delete"), std::string::npos) << tasks;

  // A project folder that does not exist: everything would be a deletion.
  EXPECT_EQ(Sync(*client, "Missing", SameTree()), "");
}

TEST_F(SyncProtocol, MalformedClientTreesGetTheStartThenTheFailurePair) {
  struct TCase {
    std::string Payload;
    std::string Message;
  };
  const TCase cases[] = {
      {"<tree></b>",
       "Tag tree zavr\x9A"
       "ava na tag /b"},
      {"<tree<x>",
       "Po\xE8"
       "etak taga u tagu"},
      // Client texts come back as they were sent, NUL bytes and markup
      // included.
      {Tree(File("x", "&lt;script&gt;")), "'<script>' is not a valid date and time"},
      {Tree(File("x", std::string("ab\0cd", 5))),
       std::string("'ab\0cd' is not a valid date and time", 36)},
      {Tree("<file><name>&lt;a&amp;</name></file><file/><file/>"),
       "Direktorij ve\xE6 sadr\x9Ei datoteku ''"},
  };
  for (const TCase& c : cases) {
    auto client = Connect();
    client->Send("Sync Demo\r\n");
    ASSERT_EQ(client->ReadLine(), "202 Sync Started\r\n");
    client->Send(Framed(c.Payload));
    ExpectFailure(*client, c.Message);
  }
}

TEST_F(SyncProtocol, BadSizeLinesFailWithTheLineAsSent) {
  for (const char* line : {"<b>12", "1<2&3"}) {
    auto client = Connect();
    client->Send("Sync Demo\r\n");
    ASSERT_EQ(client->ReadLine(), "202 Sync Started\r\n");
    client->Send(std::string(line) + "\r\n");
    ExpectFailure(*client, "'" + std::string(line) + "' is not a valid integer value");
  }

  auto negative = Connect();
  negative->Send("Sync Demo\r\n");
  ASSERT_EQ(negative->ReadLine(), "202 Sync Started\r\n");
  negative->Send("-5\r\n");
  EXPECT_EQ(negative->ReadLine().rfind("500-", 0), 0u);
  EXPECT_EQ(negative->ReadLine(), "500 Better luck next time\r\n");
}

TEST_F(SyncProtocol, HostileClientsEndAloneWhileOthersAreServed) {
  auto bystander = Connect();

  auto longLine = Connect();
  longLine->Send(std::string(16385, 'x') + "\r\n");
  ExpectFailure(*longLine, "Max line length exceeded.");

  auto accepted = Connect();  // exactly at the limit: an unknown command, no failure
  accepted->Send(std::string(16384, 'x') + "\n");
  EXPECT_EQ(accepted->ReadLine(), "400 Unknown Command\r\n");

  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<directory>";
  auto nested = Connect();
  nested->Send("Sync Demo\r\n");
  ASSERT_EQ(nested->ReadLine(), "202 Sync Started\r\n");
  nested->Send(Framed("<tree>" + deep));
  std::string failure = nested->ReadLine();
  EXPECT_EQ(failure.rfind("500-", 0), 0u) << failure.substr(0, 200);
  EXPECT_EQ(nested->ReadLine(), "500 Better luck next time\r\n");

  // Announces nearly 2 GB, sends ten bytes and goes.
  {
    auto announcer = Connect();
    announcer->Send("Sync Demo\r\n");
    ASSERT_EQ(announcer->ReadLine(), "202 Sync Started\r\n");
    announcer->Send("2000000000\r\n0123456789");
  }

  bystander->Send("Hello\r\n");
  EXPECT_EQ(bystander->ReadLine(), "201 Ready\r\n");
  auto later = Connect();
  EXPECT_EQ(Sync(*later, "Demo", SameTree()), "");
  EXPECT_TRUE(server_->Running());
}

TEST_F(SyncProtocol, ClientsWithoutAReverseNameAndIPv6ClientsAreServed) {
  {
    TRawClient client("127.0.0.1", port_, "127.0.0.2");
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("Hello\r\n");
    EXPECT_EQ(client.ReadLine(), "201 Ready\r\n");
    EXPECT_EQ(Sync(client, "Demo", SameTree()), "");
  }
  std::unique_ptr<TRawClient> v6;
  try {
    v6 = std::make_unique<TRawClient>("::1", port_);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  }
  ASSERT_EQ(v6->ReadLine(), "200 Ready\r\n");
  v6->Send("Hello\r\n");
  EXPECT_EQ(v6->ReadLine(), "201 Ready\r\n");
  v6->Send("Sync Nope\r\n");
  EXPECT_EQ(v6->ReadLine(), "401 Project 'Nope' does not exist\r\n");
}

}  // namespace
}  // namespace ormelin

#include "net/TCPConnection.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "net/StreamTransfer.h"
#include "platform/Conversions.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "support/Loopback.h"
#include "support/ScriptedIO.h"
#include "support/TempFolder.h"

namespace ormelin {
namespace {

using test::BytePieces;
using test::TScriptedIO;
using test::TScriptedLog;
using test::TwoPieceSplits;

std::unique_ptr<TTCPConnection> Scripted(std::vector<std::string> pieces,
                                         TScriptedLog* log = nullptr, bool closeAtEnd = true) {
  return std::make_unique<TTCPConnection>(
      std::make_unique<TScriptedIO>(std::move(pieces), log, closeAtEnd));
}

// Reads lines until the peer's close and tells whether the close came as
// the silent error.
std::vector<std::string> ReadAllLines(TTCPConnection& connection) {
  std::vector<std::string> lines;
  try {
    for (;;) lines.push_back(connection.ReadLine());
  } catch (const ESilentException& error) {
    EXPECT_EQ(std::string(error.what()), "Connection Closed Gracefully.");
  }
  return lines;
}

struct TLineCase {
  std::string input;
  std::vector<std::string> lines;
};

TEST(TTCPConnection, ReadLineAtEverySplit) {
  const std::vector<TLineCase> cases = {
      {"Hello\n", {"Hello"}},
      {"Hello\r\n", {"Hello"}},
      {"Hello\r\nSync demo\n", {"Hello", "Sync demo"}},
      {"a\rb\r\n", {"a\rb"}},
      {"x\r\r\n", {"x\r"}},
      {"\r\n\n", {"", ""}},
      {"done\npartial", {"done"}},  // the unterminated rest is dropped
      {"\xC8"
       "a\xE8"
       "\n",
       {"\xC8"
        "a\xE8"}},
  };
  for (const TLineCase& c : cases) {
    for (const auto& pieces : TwoPieceSplits(c.input)) {
      auto connection = Scripted(pieces);
      EXPECT_EQ(ReadAllLines(*connection), c.lines)
          << "input " << c.input << " cut at " << pieces[0].size();
    }
    auto connection = Scripted(BytePieces(c.input));
    EXPECT_EQ(ReadAllLines(*connection), c.lines) << "input " << c.input << " byte by byte";
  }
}

TEST(TTCPConnection, LineLengthLimit) {
  const std::string longest(16384, 'a');
  for (size_t cut : {size_t{0}, size_t{1}, size_t{16383}, size_t{16384}, size_t{16385}}) {
    const std::string input = longest + "\n";
    auto connection = Scripted({input.substr(0, cut), input.substr(cut)});
    EXPECT_EQ(connection->ReadLine(), longest) << cut;
  }
  for (size_t cut : {size_t{0}, size_t{8000}, size_t{16384}, size_t{16385}}) {
    const std::string input = longest + "a\n";
    auto connection = Scripted({input.substr(0, cut), input.substr(cut)});
    try {
      connection->ReadLine();
      ADD_FAILURE() << "a line of 16385 bytes was accepted, cut at " << cut;
    } catch (const EReadLnMaxLineLengthExceeded& error) {
      EXPECT_EQ(std::string(error.what()), "Max line length exceeded.");
    }
  }
  // The limit counts every byte before the LF, a CR included.
  EXPECT_THROW(Scripted({longest + "\r\n"})->ReadLine(), EReadLnMaxLineLengthExceeded);
  // Too many bytes without an LF fail at once instead of waiting for more.
  EXPECT_THROW(Scripted({longest + "a"}, nullptr, false)->ReadLine(), EReadLnMaxLineLengthExceeded);
}

TEST(TTCPConnection, IsOpenWhileBytesRemainAfterClose) {
  auto connection = Scripted({"one\ntwo\n"});
  EXPECT_EQ(connection->ReadLine(), "one");
  EXPECT_TRUE(connection->IsOpen());
  EXPECT_EQ(connection->ReadLine(), "two");
  EXPECT_FALSE(connection->IsOpen());
  auto waiting = Scripted({}, nullptr, false);
  EXPECT_TRUE(waiting->IsOpen());
  // A closed peer's unterminated line is dropped: nothing keeps the
  // connection looking open.
  auto partial = Scripted({"partial"});
  EXPECT_THROW(partial->ReadLine(), EConnClosedGracefully);
  EXPECT_FALSE(partial->IsOpen());
}

// Replies to requests that came together go out together; none waits while
// the peer may be waiting for it: not before a read that has to wait, not
// before a write of another kind, not beyond the limit.
TEST(TTCPConnection, RepliesWrittenSoonGoOutWithTheNextOrBeforeAWait) {
  test::TScriptedLog log;
  auto connection = Scripted({"a\nb\nc\n", "d\n"}, &log);
  EXPECT_EQ(connection->ReadLine(), "a");
  connection->WriteSoon("A");  // "b" has come: held
  EXPECT_EQ(log.Sent, "");
  EXPECT_EQ(connection->ReadLine(), "b");
  connection->WriteSoon("B");
  EXPECT_EQ(connection->ReadLine(), "c");
  connection->WriteSoon("C");  // nothing more has come: all three at once
  EXPECT_EQ(log.SendSizes, std::vector<size_t>{3});
  EXPECT_EQ(connection->ReadLine(), "d");

  test::TScriptedLog waited;
  auto reading = Scripted({"a\nb\n", "c\n"}, &waited);
  reading->ReadLine();
  reading->WriteSoon("A");
  reading->ReadLine();
  EXPECT_EQ(waited.Sent, "");
  EXPECT_EQ(reading->ReadLine(), "c");  // had to wait: "A" went first
  EXPECT_EQ(waited.Sent, "A");

  test::TScriptedLog mixed;
  auto other = Scripted({"a\nb\n"}, &mixed);
  other->ReadLine();
  other->WriteSoon("A");
  other->WriteLine("line");
  const std::string big(TTCPConnection::kMaxHeld + 1, 'x');
  other->ReadLine();
  other->WriteSoon(big);
  EXPECT_EQ(mixed.Sent, "Aline\r\n" + big);
}

TEST(TStreamTransfer, FramedStreamKeepsTheFollowingLine) {
  const std::string input =
      "12\r\n0123456789AB"
      "next\r\n";
  for (const auto& pieces : TwoPieceSplits(input)) {
    auto connection = Scripted(pieces);
    TMemoryStream stream;
    ReceiveStream(*connection, stream);
    EXPECT_EQ(stream.Data(), "0123456789AB") << pieces[0].size();
    EXPECT_EQ(connection->ReadLine(), "next");
  }
}

TEST(TStreamTransfer, EmptyStreamIsTheLineZero) {
  TScriptedLog log;
  auto sender = Scripted({}, &log);
  TMemoryStream empty;
  SendStream(*sender, empty);
  EXPECT_EQ(log.Sent, "0\r\n");

  auto receiver = Scripted({"0\r\nHello\r\n"});
  TMemoryStream stream("old bytes");
  ReceiveStream(*receiver, stream);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(receiver->ReadLine(), "Hello");
}

TEST(TStreamTransfer, SendStreamFramesTheWholeStreamFromItsStart) {
  std::string payload;
  for (int i = 0; i < 100000; ++i) payload += static_cast<char>(i * 7);
  TMemoryStream stream(payload);
  stream.SetPosition(5000);
  TScriptedLog log;
  auto connection = Scripted({}, &log);
  SendStream(*connection, stream);
  EXPECT_EQ(log.Sent, "100000\r\n" + payload);
  for (size_t size : log.SendSizes) EXPECT_LE(size, 32768u);
}

TEST(TStreamTransfer, BadSizeLines) {
  TMemoryStream stream;
  try {
    ReceiveStream(*Scripted({"12x\r\n"}), stream);
    ADD_FAILURE() << "a size line that is no number was accepted";
  } catch (const EConvertError& error) {
    EXPECT_EQ(std::string(error.what()), "'12x' is not a valid integer value");
  }
  EXPECT_THROW(ReceiveStream(*Scripted({"-1\r\nabc"}), stream), EInvalidStreamSize);
  EXPECT_THROW(ReceiveStream(*Scripted({"-2147483648\r\n"}), stream), EInvalidStreamSize);
  EXPECT_THROW(ReceiveStream(*Scripted({"2147483648\r\n"}), stream), EConvertError);
}

// A memory stream that fails the test when asked to hold far more than it
// was given.
class TFrugalStream : public TMemoryStream {
 public:
  void SetSize(int64_t size) override {
    if (size > 1 << 20) throw std::runtime_error("the stream was sized to " + std::to_string(size));
    TMemoryStream::SetSize(size);
  }
};

TEST(TStreamTransfer, AnnouncedSizeCostsNoMemoryBeforeTheBytesCome) {
  // The peer closes after ten bytes: the stream holds those ten, however
  // the close is noticed.
  for (const auto& pieces :
       std::vector<std::vector<std::string>>{{"2000000000\r\n0123456789"},
                                             {"2000000000\r\n", "0123456789"},
                                             {"2000000000\r\n01234", "56789"}}) {
    TFrugalStream stream;
    try {
      ReceiveStream(*Scripted(pieces), stream);
    } catch (const EConnClosedGracefully&) {
    }
    EXPECT_LE(stream.Size(), 10);
    EXPECT_EQ(stream.Data(),
              std::string("0123456789").substr(0, static_cast<size_t>(stream.Size())));
  }
}

TEST(TStreamTransfer, CloseWhileWaitingForAPiece) {
  TMemoryStream stream;
  EXPECT_THROW(ReceiveStream(*Scripted({"5\r\n", "ab"}), stream), EConnClosedGracefully);
  EXPECT_EQ(stream.Size(), 0);
}

// A stream that claims a size and runs dry early, or claims one too large.
class TDryStream : public TStream {
 public:
  explicit TDryStream(int64_t size, int64_t has) : size_(size), has_(has) {}
  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  size_t Read(void* buffer, size_t count) override {
    const size_t n =
        static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(count, has_ - position_)));
    std::memset(buffer, 'x', n);
    position_ += static_cast<int64_t>(n);
    return n;
  }
  void Write(const void*, size_t) override {}
  void SetSize(int64_t) override {}

 private:
  int64_t size_, has_, position_ = 0;
};

TEST(TStreamTransfer, StreamsThatCannotBeSent) {
  TScriptedLog log;
  auto connection = Scripted({}, &log);
  TDryStream huge(int64_t{2147483648}, 10);
  EXPECT_THROW(SendStream(*connection, huge), EIoHandlerRequiresLargeStream);
  EXPECT_THROW(connection->WriteStreamBytes(huge), EIoHandlerRequiresLargeStream);
  EXPECT_EQ(log.Sent, "");  // not even the size line

  TDryStream dry(100, 40);
  try {
    connection->WriteStreamBytes(dry);
    ADD_FAILURE() << "a stream that ran dry was sent";
  } catch (const ENoDataToRead& error) {
    EXPECT_EQ(std::string(error.what()), "No data to read.");
  }
  EXPECT_EQ(log.Sent, std::string(40, 'x'));
}

// A connected pair on loopback: the accepted end and the client end.
struct TSocketPair {
  TSocket listener = TSocket::CreateListening(TIPVersion::IPv4);
  std::unique_ptr<TTCPConnection> client;
  std::unique_ptr<TTCPConnection> server;
  TSocketPair() {
    listener.BindAny(0);
    listener.Listen(1);
    client = TTCPConnection::Connect("127.0.0.1", listener.LocalPort());
    server =
        std::make_unique<TTCPConnection>(std::make_unique<TIOHandlerSocket>(listener.Accept()));
  }
};

TEST(TTCPConnection, WritingToAVanishedPeerRaisesTheSocketError) {
  TSocketPair pair;
  EXPECT_EQ(pair.server->PeerAddress(), "127.0.0.1");
  pair.client->WriteLine("unread");  // closing with unread bytes resets
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pair.server.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string block(65536, 'z');
  try {
    for (int i = 0; i < 100; ++i) pair.client->Write(block);
    ADD_FAILURE() << "writes to a closed peer kept succeeding";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.LastError(), kSocketErrorConnectionReset);
  }
}

TEST(TTCPConnection, DisconnectFromAnotherThreadEndsABlockedRead) {
  TSocketPair pair;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pair.server->Disconnect();
  });
  EXPECT_THROW(pair.server->ReadLine(), EConnClosedGracefully);
  stopper.join();
  EXPECT_FALSE(pair.server->IsOpen());
  EXPECT_THROW(pair.server->ReadLine(), ENotConnected);
  EXPECT_THROW(pair.client->ReadLine(), EConnClosedGracefully);
}

TEST(TTCPConnection, FileStreamsGoOutWithoutCopies) {
  testing::TTempFolder folder;
  std::string payload;
  for (int i = 0; i < 300000; ++i) payload += static_cast<char>(i % 251);
  const std::string path = folder.Path() + "/payload.bin";
  WriteStringToFile(path, payload);
  TSocketPair pair;
  std::string received;
  std::thread reader([&] {
    TMemoryStream stream;
    ReceiveStream(*pair.client, stream);
    received = stream.Data();
  });
  TFileStream file(path);
  file.SetPosition(1000);
  SendStream(*pair.server, file);
  reader.join();
  EXPECT_EQ(received, payload);
  EXPECT_EQ(file.Position(), static_cast<int64_t>(payload.size()));

  // A peer gone in the middle of a file: an error, not a signal.
  pair.client.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) pair.server->WriteStreamBytes(file);
      },
      ESocketError);
}

// Bytes already buffered with the size line go to the file first, the rest
// straight from the socket; a peer that closes early leaves the file at
// what came.
TEST(TTCPConnection, FileStreamsComeInWithoutCopies) {
  testing::TTempFolder folder;
  std::string payload;
  for (int i = 0; i < 3000000; ++i) payload += static_cast<char>(i % 253);
  struct TCase {
    int64_t announced;
    bool complete;
  };
  for (const TCase& c : {TCase{static_cast<int64_t>(payload.size()), true},
                         TCase{static_cast<int64_t>(payload.size()) + 5, false}}) {
    TSocketPair pair;
    std::thread writer([&] {
      pair.server->Write("first line\r\n" + std::to_string(c.announced) + "\r\n" +
                         payload.substr(0, 1000));
      pair.server->Write(payload.substr(1000));
      pair.server.reset();
    });
    const std::string path = folder.Path() + "/in" + std::to_string(c.complete) + ".bin";
    TFileWriteStream file(path);
    file.Write("head", 4);
    EXPECT_EQ(pair.client->ReadLine(), "first line");
    if (c.complete) {
      ReceiveStream(*pair.client, file);
    } else {
      EXPECT_THROW(ReceiveStream(*pair.client, file), EConnClosedGracefully);
    }
    writer.join();
    EXPECT_EQ(file.Position(), static_cast<int64_t>(payload.size()) + 4);
    file.Close();
    EXPECT_TRUE(ReadFileToString(path) == "head" + payload) << path;
  }
}

// A file rewritten in place between its opening and its sending: whatever
// has gone out is a part of the announced payload and never the whole of
// it, so the peer cannot take a mix of two versions (or anything else) for
// the file.
TEST(TStreamTransfer, AFileChangedAfterOpeningNeverGoesOutWhole) {
#ifdef _WIN32
  GTEST_SKIP() << "a file stream is opened without write sharing: nobody can change it meanwhile";
#endif
  testing::TTempFolder folder;
  struct TCase {
    const char* change;
    std::function<void(const std::string& path, const std::string& payload)> apply;
  };
  const TCase changes[] = {
      {"none", [](const std::string&, const std::string&) {}},
      {"shrunk",
       [](const std::string& path, const std::string& payload) {
         WriteStringToFile(path, payload.substr(0, payload.size() / 2));
       }},
      {"emptied", [](const std::string& path, const std::string&) { WriteStringToFile(path, ""); }},
      {"grown", [](const std::string& path,
                   const std::string& payload) { WriteStringToFile(path, payload + "more"); }},
      {"same size, other time",
       [](const std::string& path, const std::string& payload) {
         WriteStringToFile(path, std::string(payload.size(), 'v'));
         ASSERT_TRUE(SetFileDate(path, EncodeDate(2001, 2, 3)));
       }},
  };
  for (size_t size : {size_t{1000}, size_t{300000}}) {
    std::string payload;
    for (size_t i = 0; i < size; ++i) payload += static_cast<char>(i % 251);
    const std::string whole = "203 Started\r\n" + std::to_string(size) + "\r\n" + payload;
    for (const TCase& c : changes) {
      const std::string path = folder.Path() + "/file.bin";
      WriteStringToFile(path, payload);
      TSocketPair pair;
      std::string received;
      std::thread reader([&] {
        TMemoryStream stream;
        pair.client->ReadStreamUntilClose(stream, 1 << 30);
        received = stream.Data();
      });
      bool torn = false;
      {
        TFileStream file(path);
        c.apply(path, payload);
        try {
          SendFileAsOpened(*pair.server, "203 Started\r\n", file);
        } catch (const ETornFile&) {
          torn = true;
        }
      }
      pair.server.reset();
      reader.join();
      const bool unchanged = std::string(c.change) == "none";
      EXPECT_EQ(torn, !unchanged) << c.change << " " << size;
      if (unchanged) {
        EXPECT_EQ(received, whole) << size;
      } else {
        EXPECT_LT(received.size(), whole.size()) << c.change << " " << size;
        EXPECT_EQ(received.find("500"), std::string::npos) << c.change << " " << size;
      }
    }
  }
}

}  // namespace
}  // namespace ormelin

#include "platform/Streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(StreamsTest, MemoryStreamReadsWritesAndGrows) {
  TMemoryStream stream;
  stream.Write("hello", 5);
  EXPECT_EQ(stream.Size(), 5);
  EXPECT_EQ(stream.Position(), 5);
  stream.SetPosition(8);  // past the end: the gap is filled with zeros
  stream.Write("!", 1);
  EXPECT_EQ(stream.Data(), std::string("hello\0\0\0!", 9));
  stream.SetPosition(1);
  char buffer[16] = {};
  EXPECT_EQ(stream.Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "ell");
  stream.SetPosition(7);
  EXPECT_EQ(stream.Read(buffer, 16), 2u);
  EXPECT_EQ(stream.Read(buffer, 16), 0u);
  stream.SetPosition(-1);
  EXPECT_EQ(stream.Read(buffer, 16), 0u);
  EXPECT_THROW(stream.Write("x", 1), EStreamError);
  stream.SetPosition(9);
  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(stream.Data(), "he");
  EXPECT_EQ(stream.TakeData(), "he");
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(StreamsTest, ReadOnlyStreamRefusesChanges) {
  static const char kBytes[] = "abc";
  TReadOnlyMemoryStream stream(std::string_view(kBytes, 3));
  char buffer[4] = {};
  EXPECT_EQ(stream.Read(buffer, 4), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_THROW(stream.Write("x", 1), EStreamError);
  EXPECT_THROW(stream.SetSize(0), EStreamError);
  EXPECT_EQ(stream.Size(), 3);
}

}  // namespace
}  // namespace ormelin

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/FileSystem.h"
#include "support/TempFolder.h"

namespace ormelin {
namespace {

TEST(StreamsTest, FileStreamReadsAtItsPosition) {
  testing::TTempFolder temp;
  const std::string path = temp.Path() + "/data.bin";
  std::ofstream(path, std::ios::binary) << "0123456789";
  TFileStream stream(temp.Path() + "\\data.bin");
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_GE(stream.NativeHandle(), 0);
  char buffer[16] = {};
  EXPECT_EQ(stream.Read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  stream.SetPosition(8);
  EXPECT_EQ(stream.Read(buffer, 16), 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(stream.Read(buffer, 16), 0u);
  EXPECT_EQ(stream.Position(), 10);
  EXPECT_THROW(stream.Write("x", 1), EStreamError);
  EXPECT_THROW(stream.SetSize(0), EStreamError);
  // Readers never block each other.
  TFileStream second(path);
  EXPECT_EQ(second.Read(buffer, 1), 1u);
}

TEST(StreamsTest, FileStreamRefusesFoldersMissingFilesAndFifos) {
  testing::TTempFolder temp;
  // A FIFO must fail at once rather than wait for a writer.
  ASSERT_EQ(mkfifo((temp.Path() + "/pipe").c_str(), 0600), 0);
  struct {
    std::string path;
    std::string reason;
  } cases[] = {{temp.Path(), "Is a directory"},
               {temp.Path() + "\\missing.txt", "No such file or directory"},
               {temp.Path() + "\\pipe", "Not a regular file"}};
  for (const auto& c : cases) {
    try {
      TFileStream stream(c.path);
      ADD_FAILURE() << c.path;
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "Cannot open file \"" + c.path + "\". " + c.reason);
    }
  }
}

TEST(StreamsTest, FileWriteStreamWritesThroughAndIsCutBack) {
  testing::TTempFolder temp;
  const std::string path = temp.Path() + "\\out.bin";
  std::ofstream(temp.Path() + "/out.bin", std::ios::binary) << "old content, longer";
  {
    TFileWriteStream stream(path);  // an existing file starts empty
    EXPECT_EQ(stream.Size(), 0);
    stream.Write("0123456789", 10);
    stream.SetSize(4);  // a stream cut short ends where its bytes end
    EXPECT_EQ(stream.Position(), 4);
    stream.Write("xy", 2);
    char buffer[4];
    EXPECT_THROW(stream.Read(buffer, 4), EStreamError);
    stream.Close();
    EXPECT_THROW(stream.Write("z", 1), EFCreateError);
  }
  TFileStream back(path);
  std::string bytes(16, '\0');
  bytes.resize(back.Read(bytes.data(), bytes.size()));
  EXPECT_EQ(bytes, "0123xy");

  try {
    TFileWriteStream stream(temp.Path() + "\\missing\\out.bin");
    ADD_FAILURE() << "a file in a missing folder was created";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + temp.Path() +
                               "\\missing\\out.bin\". No such file or directory");
  }
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

size_t EntryCount(const std::string& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(StreamsTest, UnnamedFileAppearsOnlyOnceNamedAndWithItsTime) {
  testing::TTempFolder temp;
  auto stream = TFileWriteStream::CreateUnnamed(temp.Path() + "\\", temp.Path() + "\\a.bin");
  if (!stream) GTEST_SKIP() << "this file system makes no unnamed files";
  stream->Write("content", 7);
  EXPECT_EQ(EntryCount(temp.Path()), 0u);  // nothing to see while it is written
  const TDateTime time = EncodeDateTime(2009, 7, 1, 13, 45, 11);
  EXPECT_TRUE(stream->SetDate(time));
  // An existing entry is never replaced.
  std::ofstream(temp.Path() + "/taken.bin", std::ios::binary) << "other";
  EXPECT_EQ(stream->Publish(temp.Path() + "\\taken.bin"), TFileWriteStream::TPublishResult::Exists);
  EXPECT_EQ(FileText(temp.Path() + "/taken.bin"), "other");
  EXPECT_EQ(stream->Publish(temp.Path() + "\\missing\\a.bin"),
            TFileWriteStream::TPublishResult::Failed);
  EXPECT_EQ(stream->Publish(temp.Path() + "\\a.bin"), TFileWriteStream::TPublishResult::Done);
  stream->Close();
  EXPECT_EQ(FileText(temp.Path() + "/a.bin"), "content");
  struct stat st {};
  ASSERT_EQ(stat((temp.Path() + "/a.bin").c_str(), &st), 0);
  EXPECT_DOUBLE_EQ(DosRoundedTime(st.st_mtime), EncodeDateTime(2009, 7, 1, 13, 45, 10));
  EXPECT_EQ(EntryCount(temp.Path()), 2u);
}

TEST(StreamsTest, UnnamedFileNeverNamedLeavesNothing) {
  testing::TTempFolder temp;
  {
    auto stream = TFileWriteStream::CreateUnnamed(temp.Path(), temp.Path() + "/a.bin");
    if (!stream) GTEST_SKIP() << "this file system makes no unnamed files";
    stream->Write("half of it", 10);
  }
  EXPECT_EQ(EntryCount(temp.Path()), 0u);
  // A missing folder is left to the named way, which tells why.
  EXPECT_EQ(TFileWriteStream::CreateUnnamed(temp.Path() + "/missing", "x"), nullptr);
}

}  // namespace
}  // namespace ormelin

// The deepest sync a connection serves, on a stack of the size connection
// threads get: the client's tree and the project's as deep as the reader
// and the scan allow, grouped and answered. Every walk of a tree keeps its
// own stack of folders, so the call stack stays shallow at any depth; a walk
// that recursed would overflow here, on the 32-bit Windows build as well.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/ReceivedTree.h"
#include "comparer/StructStreamer.h"
#include "comparer/SyncAnswer.h"
#include "comparer/TreeReader.h"
#include "comparer/orXMLParser.h"
#include "net/TCPServer.h"
#include "platform/Thread.h"

namespace ormelin {
namespace {

constexpr size_t kStack = TCustomTCPServer::kConnectionStackSize;
// The part of the stack below the thread's first frame that is painted
// before the work and read after it, and the part the work may use.
constexpr size_t kPainted = kStack * 3 / 4;
constexpr size_t kAllowed = kStack / 2;
constexpr unsigned char kPaint = 0xA5;

// Paints the stack below the caller and returns the painted part's low end.
[[gnu::noinline]] uintptr_t PaintStack() {
  volatile unsigned char area[kPainted];
  for (size_t i = 0; i < kPainted; ++i) area[i] = kPaint;
    // The painted part outlives this frame on purpose (StackTouched reads
    // it back): clang's warning of a dangling address does not apply.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-stack-address"
#endif
  return reinterpret_cast<uintptr_t>(area);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
}

// The bytes of the painted part that calls made since have written: the
// stack grows down, so the untouched ones are those at the low end.
size_t StackTouched(uintptr_t low) {
  const volatile unsigned char* area = reinterpret_cast<const volatile unsigned char*>(low);
  size_t untouched = 0;
  while (untouched < kPainted && area[untouched] == kPaint) ++untouched;
  return kPainted - untouched;
}

// A chain of `depth` folders named d, with a file `file` innermost when it
// is not empty; open elements count as closed.
std::string Chain(int depth, const std::string& file) {
  std::string xml = "<t>";
  for (int i = 0; i < depth; ++i) xml += "<directory><name>d</name>";
  if (!file.empty()) xml += "<file><name>" + file + "</name>";
  return xml;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ConnectionStack, HoldsTheDeepestSync) {
  // The deepest folder chain either tree can have: the document's root,
  // the folders, a file and its name stay within the parser's depth; the
  // scan stops at MaxScanDepth, which is deeper still than this.
  const int depth = MaxXMLDepth - 3;
  ASSERT_LE(depth, MaxScanDepth + 1);
  TDirectory projectFolders;
  TLoader::LoadFromXML(Chain(depth, "f"), &projectFolders);
  TCompactTree project = TCompactTree::FromDirectory(projectFolders);
  project.Freeze();

  const struct {
    const char* what;
    std::string client;
    size_t tasks;  // every folder and the file, or the file alone
  } cases[] = {
      {"an empty client", "<t>", static_cast<size_t>(depth) + 1},
      {"the chain without the file", Chain(depth, ""), 1},
      {"the chain with another file", Chain(depth, "g"), 1},
      {"the chain with the file", Chain(depth, "f"), 0},
  };
  for (const auto& c : cases) {
    std::string answer;
    std::exception_ptr error;
    size_t touched = 0;
    TThread(
        [&] {
          const uintptr_t painted = PaintStack();
          try {
            TReceivedTree client;
            TStreamingTreeReader reader(client);
            reader.Feed(c.client);
            reader.Finish();
            client.Group(project);
            WriteSyncAnswer(project, client, [&](std::string_view piece) { answer += piece; });
          } catch (...) {
            error = std::current_exception();
          }
          touched = StackTouched(painted);
        },
        kStack, "deep sync")
        .Join();
    ASSERT_FALSE(error) << c.what;
    EXPECT_EQ(Count(answer, "<task>"), c.tasks) << c.what;
    EXPECT_LE(touched, kAllowed) << c.what;
    std::cout << c.what << ": " << touched << " bytes of the connection stack\n";
  }
}

}  // namespace
}  // namespace ormelin

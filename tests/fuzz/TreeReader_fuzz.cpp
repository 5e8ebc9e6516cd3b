// Fuzz target for the streaming reader of the client's tree: for any bytes,
// fed in pieces whose sizes the input's first byte chooses, the reader
// builds the same tree as TLoader::LoadFromXML (every entry's name and time,
// in list order) or fails with the same error type and message. Any
// difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "comparer/TreeReader.h"
#include "platform/Exceptions.h"

namespace {

using namespace ormelin;

void Describe(const TBaseFile& entry, char kind, size_t depth, std::string& out) {
  const double date = entry.DateModified();
  uint64_t bits = 0;
  std::memcpy(&bits, &date, sizeof bits);
  out += std::string(depth, ' ') + kind + "[" + entry.Name() + "]" + std::to_string(bits) + "\n";
}

std::string Describe(const TDirectory& root) {
  std::string out;
  std::vector<std::pair<const TDirectory*, size_t>> pending{{&root, 0}};
  Describe(root, 'D', 0, out);
  while (!pending.empty()) {
    const auto [folder, depth] = pending.back();
    pending.pop_back();
    for (int i = 0; i < folder->FileCount(); ++i)
      Describe(*folder->GetFile(i), 'F', depth + 1, out);
    for (int i = folder->DirectoryCount(); i-- > 0;) {
      Describe(*folder->GetDirectory(i), 'D', depth + 1, out);
      pending.emplace_back(folder->GetDirectory(i), depth + 1);
    }
  }
  return out;
}

std::string Failure(const Exception& error) {
  return std::string("! ") + typeid(error).name() + ": " + error.Message();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the pieces: 0 feeds everything at once, n a
  // pattern of sizes from 1 to n + 1 bytes.
  const unsigned pattern = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string expected;
  {
    TDirectory tree;
    try {
      TLoader::LoadFromXML(text, &tree);
      expected = Describe(tree);
    } catch (const Exception& error) {
      expected = Failure(error);
    }
  }

  std::string streamed;
  {
    TDirectory tree;
    TStreamingTreeReader reader(&tree);
    uint32_t state = pattern * 2654435761u + 1;
    size_t at = 0;
    while (at < text.size()) {
      size_t piece = text.size() - at;
      if (pattern != 0) {
        state = state * 1103515245u + 12345u;
        piece = std::min<size_t>(piece, 1 + (state >> 16) % (pattern + 1));
      }
      reader.Feed(text.substr(at, piece));
      at += piece;
    }
    try {
      reader.Finish();
      streamed = Describe(tree);
    } catch (const Exception& error) {
      streamed = Failure(error);
    }
  }

  if (streamed != expected) {
    std::fprintf(stderr,
                 "the streaming reader differs from LoadFromXML\nnode path:\n%s\nstreamed:\n%s\n",
                 expected.c_str(), streamed.c_str());
    std::abort();
  }
  return 0;
}

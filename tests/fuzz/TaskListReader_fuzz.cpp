// Fuzz target for the client's streaming task-list reader: for any bytes,
// fed in pieces whose sizes the input's first byte chooses, the reader
// hands on the same tasks as the node reader (every kind and parameter text,
// in list order) or fails with the same error type and message. Any
// difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/TaskListOutcome.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the pieces: 0 feeds everything at once, n a
  // pattern of sizes from 1 to n + 1 bytes.
  const unsigned pattern = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<size_t> cuts;
  if (pattern != 0) {
    uint32_t state = pattern * 2654435761u + 1;
    for (size_t at = 0;;) {
      state = state * 1103515245u + 12345u;
      at += 1 + (state >> 16) % (pattern + 1);
      if (at >= text.size()) break;
      cuts.push_back(at);
    }
  }
  const std::string expected = ormelin::testing::TaskOutcomeByNodes(text);
  const std::string streamed = ormelin::testing::TaskOutcomeStreamed(text, cuts);
  if (streamed != expected) {
    std::fprintf(
        stderr,
        "the streaming reader differs from the node reader\nnode path:\n%s\nstreamed:\n%s\n",
        expected.c_str(), streamed.c_str());
    std::abort();
  }
  return 0;
}

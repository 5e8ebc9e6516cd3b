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
  // The first byte picks the pieces (PatternCuts).
  const unsigned pattern = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::vector<size_t> cuts = ormelin::testing::PatternCuts(pattern, text.size());
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

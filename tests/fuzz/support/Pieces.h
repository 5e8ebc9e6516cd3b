// Feeding a streaming reader its text in pieces: where the cuts fall, for
// the fuzz targets (chosen by one byte of the input) and for the tests
// (random), and the feeding itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace ormelin::testing {

// Feeds `text` to `reader` (anything with Feed(std::string_view)) in pieces
// cut at `cuts` (ascending offsets).
template <typename TReader>
void FeedInPieces(TReader& reader, std::string_view text, const std::vector<size_t>& cuts) {
  size_t from = 0;
  for (size_t cut : cuts) {
    reader.Feed(text.substr(from, cut - from));
    from = cut;
  }
  reader.Feed(text.substr(from));
}

// The cuts a fuzz input's first byte picks for a text of `size` bytes: 0
// none (the text at once), n a pattern of pieces of 1 to n + 1 bytes.
inline std::vector<size_t> PatternCuts(unsigned pattern, size_t size) {
  std::vector<size_t> cuts;
  if (pattern == 0) return cuts;
  uint32_t state = pattern * 2654435761u + 1;
  for (size_t at = 0;;) {
    state = state * 1103515245u + 12345u;
    at += 1 + (state >> 16) % (pattern + 1);
    if (at >= size) break;
    cuts.push_back(at);
  }
  return cuts;
}

// Random ascending cut points, from none to many.
inline std::vector<size_t> RandomCuts(size_t size, std::mt19937& random) {
  std::vector<size_t> cuts;
  if (size < 2) return cuts;
  const size_t count = std::uniform_int_distribution<size_t>(0, std::min<size_t>(size, 12))(random);
  for (size_t i = 0; i < count; ++i)
    cuts.push_back(std::uniform_int_distribution<size_t>(0, size)(random));
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

}  // namespace ormelin::testing

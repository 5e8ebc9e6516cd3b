// The differential check of a streaming reader against the reader of the
// whole text: fed whole, a byte at a time, in random splits and, for short
// texts, cut in two at every offset, it gives the same outcome.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "fuzz/support/Pieces.h"

namespace ormelin::testing {

// `streamed(xml, cuts)` is the streaming reader's outcome; texts up to
// `everyCutUpTo` bytes are also cut in two at every offset.
template <typename TStreamed>
void ExpectSameInEverySplit(const std::string& xml, const std::string& expected, TStreamed streamed,
                            size_t everyCutUpTo, std::mt19937& random, const std::string& label) {
  ASSERT_EQ(streamed(xml, {}), expected) << label << "\n" << xml;
  std::vector<size_t> bytes;
  for (size_t i = 1; i < xml.size(); ++i) bytes.push_back(i);
  ASSERT_EQ(streamed(xml, bytes), expected) << label << " byte by byte\n" << xml;
  if (xml.size() <= everyCutUpTo) {
    for (size_t i = 1; i < xml.size(); ++i)
      ASSERT_EQ(streamed(xml, {i}), expected) << label << " cut at " << i << "\n" << xml;
  }
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(streamed(xml, RandomCuts(xml.size(), random)), expected) << label << "\n" << xml;
}

// `depth` opening tags of `name`.
inline std::string Nested(const char* name, int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += std::string("<") + name + ">";
  return xml;
}

}  // namespace ormelin::testing

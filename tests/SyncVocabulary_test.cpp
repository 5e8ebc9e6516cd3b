#include "protocol/SyncVocabulary.h"

#include <gtest/gtest.h>

#include <string>

namespace ormelin {
namespace {

TEST(SyncVocabulary, TheNoProjectReplyCarriesTheNameByteForByte) {
  // A NUL byte would end a printf-style name, and a "%s" in the name is
  // the client's text, not a place for anything.
  const std::string name("a\0%sb", 5);
  EXPECT_EQ(ReplyLine(kReplyNoProject, name), "401 Project '" + name + "' does not exist");
}

}  // namespace
}  // namespace ormelin

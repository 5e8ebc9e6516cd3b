#include "platform/Resources.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(ResourcesTest, LookupIgnoresCaseOfNameAndType) {
  RegisterResource("STYLE_CSS", "RCDATA", "body{}");
  RegisterResource(
      "\x8A"
      "ABLON",
      "TEXT", std::string("a\0b", 3));
  EXPECT_EQ(FindResource("style_css", "rcdata"), "body{}");
  EXPECT_EQ(FindResource("Style_Css", "RCDATA"), "body{}");
  EXPECT_EQ(FindResource("\x9A"
                         "ablon",
                         "text"),
            std::string("a\0b", 3));
}

TEST(ResourcesTest, MissingNameOrTypeIsNotFound) {
  RegisterResource("INDEX", "TEXT", "<html>");
  try {
    FindResource("propalaakcija", "TEXT");
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource propalaakcija not found");
  }
  EXPECT_THROW(FindResource("index", "RCDATA"), EResNotFound);
}

TEST(ResourcesTest, EarlierViewsSurviveReRegistration) {
  RegisterResource("ABOUT", "TEXT", "first");
  std::string_view first = FindResource("about", "TEXT");
  RegisterResource("about", "TEXT", "second");
  EXPECT_EQ(first, "first");
  EXPECT_EQ(FindResource("ABOUT", "TEXT"), "second");
}

}  // namespace
}  // namespace ormelin

#include "platform/Conversions.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(ConversionsTest, IntegerTexts) {
  struct {
    const char* text;
    bool valid;
    int32_t value;
  } cases[] = {
      {"0", true, 0},
      {"1974", true, 1974},
      {"  2000", true, 2000},
      {"+12", true, 12},
      {"-12", true, -12},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"$FF", true, 255},
      {"xff", true, 255},
      {"X10", true, 16},
      {"0x1A", true, 26},
      {"0X1a", true, 26},
      {"-$10", true, -16},
      {"$7FFFFFFF", true, 2147483647},
      {"$FFFFFFFF", true, -1},
      {"$100000000", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"$G", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"-", false, 0},
      {"abc", false, 0},
      {"12 ", false, 0},
      {"1 2", false, 0},
      {"\t12", false, 0},
      {"12a", false, 0},
      {"--1", false, 0},
      {"1.0", false, 0},
  };
  for (const auto& c : cases) {
    int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(c.text, value), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(value, c.value) << c.text;
      EXPECT_EQ(StrToInt(c.text), c.value);
    } else {
      try {
        StrToInt(c.text);
        ADD_FAILURE() << c.text;
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'" + std::string(c.text) + "' is not a valid integer value");
      }
    }
  }
}

TEST(ConversionsTest, Int64RangeAndText) {
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("4294967296"), 4294967296LL);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
}

}  // namespace
}  // namespace ormelin

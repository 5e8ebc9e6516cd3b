// GetFile's confinement as the Windows build applies it: the platform's
// ConfinedPath follows the Windows rules (each rule is tested on every
// system in tests/PathConfinement_test.cpp).
#include "platform/PathConfinement.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(WindowsConfinedPath, IsTheWindowsRuleSet) {
  EXPECT_EQ(ConfinedPath("C:\\Data", "\\doc\\a.txt"), "C:\\Data\\\\doc\\a.txt");
  const struct {
    const char* Path;
    const char* Message;
  } refused[] = {
      {"\\doc\\CON.txt", "Cannot open file \"C:\\Data\\\\doc\\CON.txt\". The path names a device."},
      {"\\doc\\con .txt",
       "Cannot open file \"C:\\Data\\\\doc\\con .txt\". The path names a device."},
      {"\\D:\\x",
       "Cannot open file \"C:\\Data\\\\D:\\x\". The path leads outside the project's root folder."},
      {"\\a.txt:s",
       "Cannot open file \"C:\\Data\\\\a.txt:s\". The path names an alternate data stream."},
  };
  for (const auto& c : refused) {
    try {
      ConfinedPath("C:\\Data", c.Path);
      ADD_FAILURE() << "served " << c.Path;
    } catch (const EFOpenError& error) {
      EXPECT_EQ(error.Message(), c.Message);
    }
  }
}

}  // namespace
}  // namespace ormelin

#include "entry_safety.hpp"

#include <gtest/gtest.h>

namespace {
bool Safe(const std::string& name, const std::string& to) { return IsSafeEntry({name, "/any", to}); }
}  // namespace

TEST(EntrySafety, RefusesEntriesThatLeaveTheInstallFolder) {
  EXPECT_FALSE(Safe("", ""));
  EXPECT_FALSE(Safe("..\\x.dll", ""));
  EXPECT_FALSE(Safe("a/../../x.dll", ""));
  EXPECT_FALSE(Safe("x.dll", "\\..\\..\\Windows"));
  EXPECT_FALSE(Safe("x.dll", "/sub/.."));
  EXPECT_FALSE(Safe("x.dll", "..\\sibling"));
  EXPECT_FALSE(Safe("x.dll", "sibling")) << "a to without a leading separator names a sibling folder";
  EXPECT_FALSE(Safe("C:x.dll", ""));
  EXPECT_FALSE(Safe("x.dll:stream", ""));
  EXPECT_FALSE(Safe("x.dll", "\\C:\\Windows"));
}

TEST(EntrySafety, RefusesReservedDeviceNamesInAnyCase) {
  for (const char* device : {"CON", "prn", "Aux", "nul.txt", "COM1", "com9.log", "LPT1", "lpt9", "CON .txt"})
    EXPECT_FALSE(Safe(device, "")) << device;
  EXPECT_FALSE(Safe("x.dll", "\\sub\\nul"));
  EXPECT_FALSE(Safe("sub/AUX.dat", ""));
}

TEST(EntrySafety, KeepsWhatWorksToday) {
  EXPECT_TRUE(Safe("x.dll", ""));
  EXPECT_TRUE(Safe("x.dll", "\\lib"));
  EXPECT_TRUE(Safe("x.dll", "/lib/sub"));
  EXPECT_TRUE(Safe("sub\\x.dll", ""));
  EXPECT_TRUE(Safe("sub/x.dll", "\\lib"));
  EXPECT_TRUE(Safe("v1..2.txt", ""));
  EXPECT_TRUE(Safe("...", ""));
  for (const char* near : {"CONSOLE.txt", "COM0", "COM10", "LPT", "nully", "aux_", "con-fig"})
    EXPECT_TRUE(Safe(near, "")) << near;
  EXPECT_TRUE(IsSafeEntry({"x.dll", "/../odd:from", ""})) << "from only shapes the address";
}

#include "paths/entry_safety.hpp"

#include <string>
#include <vector>

#include "paths/path_identity.hpp"

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

// The updater finds its own entry by this comparison; Windows' own rules are fuzzed against it.
TEST(PathIdentity, PathsAreTheSameFileAsWindowsResolvesThem) {
  struct Row {
    std::string a, b;
    bool same;
  };
  const std::vector<Row> rows{
      {"D:\\app\\Merovast.exe", "d:/APP//./merovast.EXE. .", true},
      {"D:\\app\\Merovast.exe", "D:\\app\\sub\\..\\Merovast.exe", true},
      {"D:\\app\\Merovast.exe", "D:\\app\\sub\\Merovast.exe", false},
      // A trail byte is no letter to fold and no separator.
      {"D:\\\x81"
       "a\\x",
       "D:\\\x81"
       "A\\x",
       false},
      {"D:\\\x95\\x", "D:\\\x95/x", false},
      // A lead byte before a byte that cannot trail stands alone.
      {"D:\\\x81.", "D:\\\x81", true},
  };
  for (const Row& row : rows) EXPECT_EQ(SamePath(row.a, row.b), row.same) << row.a << " | " << row.b;
}

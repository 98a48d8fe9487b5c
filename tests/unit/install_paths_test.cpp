#include "paths/install_paths.hpp"

#include <gtest/gtest.h>

TEST(InstallPaths, FolderEndsAtTheLastRealBackslash) {
  EXPECT_EQ(InstallDirFromModulePath("C:\\Apps\\Ost\\Merovast.exe"), "C:\\Apps\\Ost");
  EXPECT_EQ(InstallDirFromModulePath("Merovast.exe"), "Merovast.exe");
  // 0xB9 0x5C is one GBK character whose trail byte has the value of a backslash.
  EXPECT_EQ(InstallDirFromModulePath("C:\\\xB9\x5C\\Merovast.exe"), "C:\\\xB9\x5C");
  EXPECT_EQ(InstallDirFromModulePath("C:\\x\\\xB9\x5CMerovast.exe"), "C:\\x");
  EXPECT_EQ(TargetPathFromModulePath("C:\\\xB9\x5C\\Merovast.exe"), "C:\\\xB9\x5C\\Ostravine.exe");
}

TEST(InstallPaths, TargetPathMustFitItsBuffer) {
  EXPECT_EQ(TargetPathFromModulePath("Merovast.exe"), std::nullopt);
  // A folder of 245 bytes plus its backslash and the 13-byte file name make 259 bytes.
  const std::string folder = "C:\\" + std::string(242, 'a');
  EXPECT_EQ(TargetPathFromModulePath(folder + "\\M.exe")->size(), 259u);
  EXPECT_EQ(TargetPathFromModulePath(folder + "a\\M.exe"), std::nullopt);
}

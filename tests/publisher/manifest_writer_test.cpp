#include "manifest_writer.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "manifest_check.hpp"

namespace {

std::string Golden(const std::string& name) {
  std::ifstream in(std::string(GOLDEN_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Release Sample() {
  return {"1,0,0,4",
          123456,
          {{"", "Ostravine.exe"},
           {"data/maps", "b.map"},
           {"data", "a.pak"},
           {"", "readme.txt"},
           {"data/maps", "a.map"},
           {"lib", "z.dll"}}};
}

std::string RefusalOf(const Release& release, const std::string& url = "http://h:8081/rel") {
  try {
    WriteManifest(release, url);
  } catch (const PublishError& error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(ManifestWriter, ReproducesTheGoldenManifestsByteForByte) {
  EXPECT_EQ(WriteManifest(Sample(), "http://updates.example:8081/release/"), Golden("sample.htm"));
  EXPECT_EQ(WriteManifest({"1,0,0,3", 7, {{"", "Ostravine.exe"}}}, "http://127.0.0.1:8081/r"),
            Golden("target-only.htm"));
}

TEST(ManifestWriter, TheUpdaterReadsBackWhatWasPublished) {
  const std::string manifest = WriteManifest(Sample(), "http://h:8081/rel");
  const ManifestCheck check = CheckManifest(manifest);
  EXPECT_TRUE(check.problems.empty()) << check.problems.front();
  EXPECT_EQ(check.header.update_version, "1,0,0,4");
  EXPECT_EQ(check.header.FileSize(), 123456);
  ASSERT_EQ(check.downloads.size(), 6u);
  std::vector<std::string> planned;
  for (const auto& download : check.downloads) planned.push_back(download.remoteAddress + " " + download.localPath);
  // Folders before their subfolders, the target last so that an interrupted update never looks current.
  EXPECT_EQ(planned, (std::vector<std::string>{
                         "http://h:8081/rel/readme.txt <install>\\readme.txt",
                         "http://h:8081/rel/data/a.pak <install>\\data\\a.pak",
                         "http://h:8081/rel/lib/z.dll <install>\\lib\\z.dll",
                         "http://h:8081/rel/data/maps/a.map <install>\\data\\maps\\a.map",
                         "http://h:8081/rel/data/maps/b.map <install>\\data\\maps\\b.map",
                         "http://h:8081/rel/Ostravine.exe <install>\\Ostravine.exe",
                     }));
}

TEST(ManifestWriter, RefusesWhatTheUpdaterCannotCarryOut) {
  EXPECT_NE(
      RefusalOf({"1", 1, {{"", "Ostravine.exe"}, {"a/b", "x.dll"}}}).find("a/: this folder has subfolders but no file"),
      std::string::npos);
  EXPECT_NE(RefusalOf({"1", 1, {{"", "Ostravine.exe"}, {"", "con.txt"}}}).find("con.txt: the updater refuses"),
            std::string::npos);
  for (const char* name : {" lead.txt", "x%41", "a#b", "q?.dll", "\xB1\xED.txt", "trail."})
    EXPECT_NE(RefusalOf({"1", 1, {{"", "Ostravine.exe"}, {"", name}}}).find(name), std::string::npos) << name;
  EXPECT_NE(RefusalOf({"1", 1, {{"", "Ostravine.exe"}, {"my dir ", "x"}}}).find("my dir /x"), std::string::npos);
  EXPECT_NE(RefusalOf({"1", 1, {{"", "other.exe"}}}).find("Ostravine.exe: the release has no target"),
            std::string::npos);
  EXPECT_NE(RefusalOf({"", 1, {{"", "Ostravine.exe"}}}).find("FileVersion"), std::string::npos);
  EXPECT_NE(RefusalOf({"1", 1, {{"", "Ostravine.exe"}}}, "ftp://h/x").find("http://"), std::string::npos);
  Release big{"1", 1, {{"", "Ostravine.exe"}}};
  for (int i = 0; i < 80; ++i) big.files.push_back({"", "file-with-a-long-name-" + std::to_string(i) + ".dat"});
  EXPECT_NE(RefusalOf(big).find("the updater reads at most 5000"), std::string::npos);
}

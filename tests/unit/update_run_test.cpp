#include "update_run.hpp"

#include <gtest/gtest.h>

#include "fake_platform.hpp"
#include "text.hpp"

namespace {

const std::string kFiles = "http://files:8081/rel";

std::string Manifest(const std::string& version, const std::string& size, const std::string& tail) {
  return "update_version=" + version + "\r\nupdate_filesize=" + size + "\r\nupdate_url=" + kFiles + "\r\n" + tail;
}

std::string Entry(int i, const std::string& name, const std::string& from, const std::string& to) {
  return text::Format("update_name%d=%s\r\nupdate_from%d=%s\r\nupdate_to%d=%s\r\n", i, name.c_str(), i, from.c_str(), i,
                      to.c_str());
}

class UpdateRunTest : public ::testing::Test {
 protected:
  void Publish(const std::string& manifest) { fake.served[ManifestUrl()] = manifest; }
  void Serve(const std::string& path, const std::string& body) { fake.served[kFiles + path] = body; }
  std::vector<std::string> Downloads() const {
    return {fake.requests.begin() + (fake.requests.empty() ? 0 : 1), fake.requests.end()};
  }
  FakePlatform fake;
};

}  // namespace

TEST(ManifestAddress, IsTheFixedBaseJoinedWithUpdateHtm) {
  EXPECT_EQ(ManifestUrl(), "http://127.0.0.1:8081/update_go/update.htm");
}

TEST_F(UpdateRunTest, CurrentTargetDownloadsNothingEvenWithoutACount) {
  fake.targetVersion = "1,0,0,3";
  fake.targetSize = 1234;
  Publish(Manifest("1,0,0,3", " 1234 ", "no count here\r\n"));
  EXPECT_EQ(UpdateRun(fake), 1);
  EXPECT_EQ(fake.requests, std::vector<std::string>{ManifestUrl()});
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(UpdateRunTest, AMissingTargetIsCurrentOnlyAgainstAnEmptyVersionAndSizeMinusOne) {
  Publish(Manifest("", "-1", ""));
  EXPECT_EQ(UpdateRun(fake), 1);
  Publish(Manifest("", "0", "update_size=0\r\n"));
  EXPECT_EQ(UpdateRun(fake), 1) << "out of date, but a count of zero means success";
  Publish(Manifest("", "0", ""));
  EXPECT_EQ(UpdateRun(fake), 0) << "out of date and no count";
}

TEST_F(UpdateRunTest, EitherDifferenceMakesTheTargetOutOfDate) {
  Serve("/Ostravine.exe", "new");
  const std::string tail = "update_size=1\r\n" + Entry(0, "Ostravine.exe", "", "");
  for (auto [version, size] : {std::pair{"1,0,0,3", 99}, std::pair{"1,0,0,4", 1234}, std::pair{"1, 0,0,3", 1234}}) {
    fake.targetVersion = version;
    fake.targetSize = size;
    fake.files.clear();
    Publish(Manifest("1,0,0,3", "1234", tail));
    EXPECT_EQ(UpdateRun(fake), 1);
    EXPECT_EQ(fake.files["D:\\app\\Ostravine.exe"], "new") << version << " " << size;
  }
}

TEST_F(UpdateRunTest, CountOfZeroOrLessDownloadsNothingAndSucceeds) {
  for (const char* count : {"0", "-2", "abc"}) {
    fake.requests.clear();
    Publish(Manifest("2", "5", std::string("update_size=") + count + "\r\n" + Entry(0, "a", "", "")));
    EXPECT_EQ(UpdateRun(fake), 1) << count;
    EXPECT_TRUE(Downloads().empty()) << count;
  }
}

TEST_F(UpdateRunTest, OutOfDateTargetGetsEveryFileInPlace) {
  Serve("/bin/Ostravine.exe", "exe");
  Serve("/lib/a.dll", "a");
  Serve("/lib/b.dll", "b");
  Serve("/data.txt", "d");
  Publish(Manifest("2", "5",
                   "update_size=4\r\n" + Entry(0, "Ostravine.exe", "/bin", "") + Entry(1, "a.dll", "/lib", "\\lib") +
                       Entry(2, "b.dll", "/lib", "\\lib") + Entry(3, "data.txt", "", "/lib")));
  fake.folders.insert("D:\\app/lib");  // exists already: not re-created
  EXPECT_EQ(UpdateRun(fake), 1);
  EXPECT_EQ(Downloads(), (std::vector<std::string>{kFiles + "/bin/Ostravine.exe", kFiles + "/lib/a.dll",
                                                   kFiles + "/lib/b.dll", kFiles + "/data.txt"}));
  EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\Ostravine.exe", "exe"},
                                                            {"D:\\app\\lib\\a.dll", "a"},
                                                            {"D:\\app\\lib\\b.dll", "b"},
                                                            {"D:\\app/lib\\data.txt", "d"}}));
  EXPECT_TRUE(fake.folders.contains("D:\\app\\lib"));
}

TEST_F(UpdateRunTest, FirstFailureEndsTheRunAndKeepsEarlierFiles) {
  Serve("/a", "a");
  Serve("/b", "b");
  Serve("/c", "c");
  const std::string head = "update_size=3\r\n" + Entry(0, "a", "", "");
  // Entry 1 fails in turn: its download, its folder two levels deep, a missing key, an unsafe path.
  for (const std::string& second :
       {Entry(1, "missing", "", ""), Entry(1, "b", "", "\\x\\y"), std::string("update_name1=b\r\nupdate_to1=\r\n"),
        Entry(1, "..\\b", "", ""), Entry(1, "b", "", "\\..\\..\\Windows")}) {
    fake.files.clear();
    fake.requests.clear();
    Publish(Manifest("2", "5", head + second + Entry(2, "c", "", "")));
    EXPECT_EQ(UpdateRun(fake), 0) << second;
    EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\a", "a"}})) << second;
    EXPECT_FALSE(fake.folders.contains("D:\\app\\x")) << second;
  }
  EXPECT_EQ(Downloads(), std::vector<std::string>{kFiles + "/a"}) << "nothing is fetched for an unsafe entry";
}

TEST_F(UpdateRunTest, FailedFetchShowsTheReceivedBytesThenFails) {
  EXPECT_EQ(UpdateRun(fake), 0);
  EXPECT_EQ(fake.boxes, std::vector<std::string>{""});
  Publish("update_version=1\r\n");
  EXPECT_EQ(UpdateRun(fake), 0) << "header incomplete";
  EXPECT_EQ(fake.boxes.size(), 1u) << "only a failed fetch shows a box";
}

TEST_F(UpdateRunTest, UnknownInstallFolderEndsTheRunBeforeAnyRequest) {
  fake.installDir = "";
  Publish(Manifest("2", "5", "update_size=1\r\n" + Entry(0, "a", "", "")));
  Serve("/a", "a");
  EXPECT_EQ(UpdateRun(fake), 0);
  EXPECT_TRUE(fake.requests.empty());
  EXPECT_TRUE(fake.files.empty());
}

TEST_F(UpdateRunTest, FileErrorLeavesTheRunWithEarlierFilesInPlace) {
  Serve("/a", "a");
  Serve("/b", "b");
  fake.diskFullAt = "D:\\app\\b";
  Publish(Manifest("2", "5", "update_size=2\r\n" + Entry(0, "a", "", "") + Entry(1, "b", "", "")));
  try {
    UpdateRun(fake);
    FAIL() << "the file error must reach the caller";
  } catch (const FileError& error) {
    EXPECT_EQ(error.cause(), FileError::kDiskFull);
    EXPECT_EQ(error.path(), "D:\\app\\b");
  }
  EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\a", "a"}}));
}

TEST_F(UpdateRunTest, ManifestIsCutAtFiveThousandBytes) {
  // The count line lies past the 5000th byte, so it is not seen.
  std::string manifest = Manifest("2", "5", "");
  manifest += std::string(5000 - manifest.size(), 'x') + "update_size=0\r\n";
  Publish(manifest);
  EXPECT_EQ(UpdateRun(fake), 0);
  manifest.resize(4985);
  Publish(manifest + "update_size=0\r\n");
  EXPECT_EQ(UpdateRun(fake), 1) << "a manifest of exactly 5000 bytes is read whole";
}

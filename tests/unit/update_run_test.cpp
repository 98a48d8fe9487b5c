#include "update_run.hpp"

#include <gtest/gtest.h>

#include "download/pack_run.hpp"
#include "fake_platform.hpp"
#include "manifest/manifest_keys.hpp"
#include "text/text.hpp"

namespace {

const std::string kFiles = "http://files:8081/rel";
const std::string kManifestUrl = ManifestUrlOf("127.0.0.1");
// What a build without a key runs with.
const UpdateOptions kUnkeyed(kManifestUrl);

std::string Manifest(const std::string& version, const std::string& size, const std::string& tail) {
  return "update_version=" + version + "\r\nupdate_filesize=" + size + "\r\nupdate_url=" + kFiles + "\r\n" + tail;
}

std::string Entry(int i, const std::string& name, const std::string& from, const std::string& to) {
  namespace keys = manifest_key;
  return keys::Line(keys::kName(i), name) + keys::Line(keys::kFrom(i), from) + keys::Line(keys::kTo(i), to);
}

// The hash line of `bytes`, to stand right after an entry's to line.
std::string Hash(int i, const std::string& bytes) {
  return manifest_key::Line(manifest_key::kHash(i), HashValue(FakePlatform::DigestOf(bytes)));
}

class UpdateRunTest : public ::testing::Test {
 protected:
  void Publish(const std::string& manifest) { fake.served[kManifestUrl] = manifest; }
  void Serve(const std::string& path, const std::string& body) { fake.served[kFiles + path] = body; }
  std::vector<std::string> Downloads() const {
    return {fake.requests.begin() + (fake.requests.empty() ? 0 : 1), fake.requests.end()};
  }
  FakePlatform fake;
};

}  // namespace

TEST(ManifestAddress, IsTheFixedBaseJoinedWithUpdateHtm) {
  EXPECT_EQ(ManifestUrlOf("127.0.0.1"), "http://127.0.0.1:8081/update_go/update.htm");
}

TEST_F(UpdateRunTest, CurrentTargetDownloadsNothingEvenWithoutACount) {
  fake.targetVersion = "1,0,0,3";
  fake.targetSize = 1234;
  Publish(Manifest("1,0,0,3", " 1234 ", "no count here\r\n"));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(fake.requests, std::vector<std::string>{kManifestUrl});
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(UpdateRunTest, AMissingTargetIsCurrentOnlyAgainstAnEmptyVersionAndSizeMinusOne) {
  Publish(Manifest("", "-1", ""));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  Publish(Manifest("", "0", "update_size=0\r\n"));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << "out of date, but a count of zero means success";
  Publish(Manifest("", "0", ""));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << "out of date and no count";
}

TEST_F(UpdateRunTest, EitherDifferenceMakesTheTargetOutOfDate) {
  Serve("/Ostravine.exe", "new");
  const std::string tail = "update_size=1\r\n" + Entry(0, "Ostravine.exe", "", "");
  for (auto [version, size] : {std::pair{"1,0,0,3", 99}, std::pair{"1,0,0,4", 1234}, std::pair{"1, 0,0,3", 1234}}) {
    fake.targetVersion = version;
    fake.targetSize = size;
    fake.files.clear();
    Publish(Manifest("1,0,0,3", "1234", tail));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
    EXPECT_EQ(fake.files["D:\\app\\Ostravine.exe"], "new") << version << " " << size;
  }
}

TEST_F(UpdateRunTest, CountOfZeroOrLessDownloadsNothingAndSucceeds) {
  for (const char* count : {"0", "-2", "abc"}) {
    fake.requests.clear();
    Publish(Manifest("2", "5", std::string("update_size=") + count + "\r\n" + Entry(0, "a", "", "")));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << count;
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
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
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
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << second;
    EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\a", "a"}})) << second;
    EXPECT_FALSE(fake.folders.contains("D:\\app\\x")) << second;
  }
  EXPECT_EQ(Downloads(), std::vector<std::string>{kFiles + "/a"}) << "nothing is fetched for an unsafe entry";
}

TEST_F(UpdateRunTest, FailedFetchShowsTheReceivedBytesThenFails) {
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0);
  EXPECT_EQ(fake.boxes, std::vector<std::string>{""});
  Publish("update_version=1\r\n");
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << "header incomplete";
  EXPECT_EQ(fake.boxes.size(), 1u) << "only a failed fetch shows a box";
}

TEST_F(UpdateRunTest, UnknownInstallFolderEndsTheRunBeforeAnyRequest) {
  fake.installDir = "";
  Publish(Manifest("2", "5", "update_size=1\r\n" + Entry(0, "a", "", "")));
  Serve("/a", "a");
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0);
  EXPECT_TRUE(fake.requests.empty());
  EXPECT_TRUE(fake.files.empty());
}

TEST_F(UpdateRunTest, FileErrorLeavesTheRunWithEarlierFilesInPlace) {
  Serve("/a", "a");
  Serve("/b", "b");
  fake.diskFullAt = "D:\\app\\b";
  Publish(Manifest("2", "5", "update_size=2\r\n" + Entry(0, "a", "", "") + Entry(1, "b", "", "")));
  try {
    UpdateRun(fake, kUnkeyed);
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
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0);
  manifest.resize(4985);
  Publish(manifest + "update_size=0\r\n");
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << "a manifest of exactly 5000 bytes is read whole";
}

TEST_F(UpdateRunTest, FilesThatMatchTheirHashLinesAreNotDownloadedAgain) {
  Serve("/a", "new a");
  Serve("/b", "new b");
  Serve("/c", "new c");
  Serve("/Ostravine.exe", "new exe");
  fake.files = {{"D:\\app\\a", "new a"}, {"D:\\app\\sub\\b", "new b"}, {"D:\\app\\c", "old c"}};
  Publish(Manifest("2", "5",
                   "update_size=4\r\n" + Entry(0, "a", "", "") + Hash(0, "new a") + Entry(1, "b", "", "\\sub") +
                       Hash(1, "new b") + Entry(2, "c", "", "") + Hash(2, "new c") + Entry(3, "Ostravine.exe", "", "") +
                       Hash(3, "new exe")));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(Downloads(), (std::vector<std::string>{kFiles + "/c", kFiles + "/Ostravine.exe"}));
  EXPECT_TRUE(fake.folders.contains("D:\\app\\sub")) << "the folder step comes before the check";
  EXPECT_EQ(fake.files["D:\\app\\c"], "new c");
}

TEST_F(UpdateRunTest, AWrongOrMalformedHashLineEndsTheRun) {
  Serve("/a", "a");
  Serve("/b", "served b");
  const std::string first = "update_size=2\r\n" + Entry(0, "a", "", "") + Hash(0, "a");
  const std::string good = HashValue(FakePlatform::DigestOf("served b"));
  for (const std::string& hashLine : {
           Hash(1, "other b"),                                       // bytes differ
           "update_hash1=" + good.substr(0, 65) + "9\r\n",           // size differs
           "update_hash1=" + good.substr(0, 64) + "\r\n",            // no size
           "update_hash1=" + good.substr(0, 65) + "08\r\n",          // leading zero
           "update_hash1=" + good.substr(0, 65) + "2147483648\r\n",  // beyond 32 bits
           "update_hash1=" + text::ReplaceAll(good, "a", "A") + "\r\n",
           "update_hash1=" + good,  // no CR LF
       }) {
    fake.files.clear();
    fake.requests.clear();
    fake.folders = {"D:\\app"};
    Publish(Manifest("2", "5", first + Entry(1, "b", "", "\\sub").append(hashLine)));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << hashLine;
    EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\a", "a"}})) << hashLine;
    const bool malformed = hashLine != Hash(1, "other b") && hashLine.find(" 9\r") == std::string::npos;
    EXPECT_EQ(fake.folders.contains("D:\\app\\sub"), !malformed)
        << "a malformed line ends the run before the folder step";
  }
  // Elsewhere than right after the to line, it is no hash line of that entry.
  Publish(Manifest("2", "5", first + Entry(1, "b", "", "") + "x\r\n" + Hash(1, "other b")));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(fake.files["D:\\app\\b"], "served b");
}

class SignedUpdateRunTest : public UpdateRunTest {
 protected:
  SignedUpdateRunTest() { options.publicKeys = {PublicKey{}}; }
  static std::string Signed(const std::string& manifest) {
    return manifest + "update_signature=" + std::string(86, 'A') + "==\r\n";
  }
  UpdateOptions options{kManifestUrl};
};

TEST_F(SignedUpdateRunTest, OnlyASignedManifestWithAHashForEveryEntryIsCarriedOut) {
  Serve("/a", "a");
  Serve("/b", "b");
  fake.targetVersion = "2";
  fake.targetSize = 5;
  const std::string entries = "update_size=2\r\n" + Entry(0, "a", "", "\\x") + Hash(0, "a") + Entry(1, "b", "", "");
  struct Row {
    std::string manifest;
    bool valid;
    std::vector<std::string> requests;
    int result;
  };
  const std::string current = Manifest("2", "5", "");
  const std::string outOfDate = Manifest("3", "5", entries + Hash(1, "b"));
  const std::vector<Row> rows{
      {Signed(current), true, {kManifestUrl}, 1},
      {current, true, {kManifestUrl}, 0},                              // unsigned, though current
      {Signed(current), false, {kManifestUrl}, 0},                     // the signature does not hold
      {Signed(current) + "\r\n", true, {kManifestUrl}, 0},             // bytes after the signature line
      {Signed(Manifest("3", "5", entries)), true, {kManifestUrl}, 0},  // entry 1 has no hash
      {Signed(outOfDate), true, {kManifestUrl, kFiles + "/a", kFiles + "/b"}, 1},
  };
  for (const Row& row : rows) {
    fake.files.clear();
    fake.requests.clear();
    fake.folders = {"D:\\app"};
    fake.signatureValid = row.valid;
    Publish(row.manifest);
    EXPECT_EQ(UpdateRun(fake, options), row.result) << row.manifest;
    EXPECT_EQ(fake.requests, row.requests) << row.manifest;
    EXPECT_EQ(fake.folders.contains("D:\\app\\x"), row.result == 1 && row.requests.size() > 1) << row.manifest;
    EXPECT_TRUE(fake.boxes.empty()) << "only the caller's failure box follows";
  }
  EXPECT_EQ(fake.signedTexts.back(), outOfDate) << "the signature covers every byte before its line";
}

// The clock stands at 2026-12-07T12:00:00Z; the installed target is 1,0,0,3 of 5 bytes.
TEST_F(SignedUpdateRunTest, AnExpiredOrOlderManifestIsRefusedBeforeTheTargetCountsAsCurrent) {
  Serve("/a", "a");
  fake.signatureValid = true;
  const std::string entries = "update_size=1\r\n" + Entry(0, "a", "", "\\x") + Hash(0, "a");
  const auto expires = [](const std::string& at) { return "update_expires=" + at + "\r\n"; };
  struct Row {
    std::string version, size, expiry, targetVersion;
    int result;  // 1 with a download unless the size matches
  };
  const std::vector<Row> rows{
      {"1,0,0,3", "5", "", "1,0,0,3", 1},                                         // current
      {"1,0,0,3", "6", "", "1,0,0,3", 1},                                         // equal version, other size: repaired
      {"1,0,0,4", "5", expires("2026-12-07T12:00:01Z"), "1,0,0,3", 1},            // a second left
      {"1,0,0,3", "5", expires("2026-12-07T12:00:00Z"), "1,0,0,3", 0},            // expired now, though current
      {"1,0,0,4", "5", expires("2000-01-01T00:00:00Z"), "1,0,0,3", 0},            // long expired
      {"1,0,0,4", "5", expires("2026-12-07T12:00:00"), "1,0,0,3", 0},             // malformed
      {"1,0,0,4", "5", "x\r\n" + expires("2000-01-01T00:00:00Z"), "1,0,0,3", 1},  // not where it belongs
      {"1,0,0,2", "5", "", "1,0,0,3", 0},                                         // a replay of an older release
      {"1.0.0.2", "5", "", "1,0,0,3", 0},
      {"1.0.0.10", "5", "", "1,0,0,9", 1},
      {"1,0,0,3,0", "5", "", "1,0,0,3", 0},     // not numbers
      {"", "-1", "", "", 0},                    // not numbers, though current
      {"1,0,0,2", "5", "", "", 1},              // no target or no version block
      {"1,0,0,2", "5", "", "1,0,0,3 beta", 1},  // a target's version of another form
  };
  for (const Row& row : rows) {
    fake.files.clear();
    fake.requests.clear();
    fake.folders = {"D:\\app"};
    fake.targetVersion = row.targetVersion;
    fake.targetSize = row.targetVersion.empty() ? -1 : 5;
    Publish(Signed(Manifest(row.version, row.size, row.expiry + entries)));
    const std::string shown = row.version + " " + row.size + " " + row.expiry + " over " + row.targetVersion;
    EXPECT_EQ(UpdateRun(fake, options), row.result) << shown;
    const bool current = row.version == row.targetVersion && row.size == "5";
    EXPECT_EQ(fake.requests.size(), row.result == 1 && !current ? 2u : 1u) << shown;
    EXPECT_EQ(fake.folders.contains("D:\\app\\x"), row.result == 1 && !current) << shown;
  }

  // Without a key neither test is made.
  fake.files.clear();
  fake.requests.clear();
  fake.targetVersion = "1,0,0,3";
  Publish(Manifest("1,0,0,2", "5", expires("2000-01-01T00:00:00Z") + entries));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(fake.files["D:\\app\\x\\a"], "a");
  Publish(Manifest("1,0,0,3", "5", "update_expires=junk\r\n" + entries));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << "current";
}

namespace {

// A manifest whose entries are in an index served at kFiles + ".index", by the index's hash.
std::string IndexLine(const std::string& index) {
  return "update_index=.index " + HashValue(FakePlatform::DigestOf(index)) + "\r\n";
}

// A map line for `bytes`, whose map is served at kFiles + from.
std::string MapLineFor(int i, const std::string& from, const std::string& map) {
  return manifest_key::Line(manifest_key::kMap(i), from + " " + HashValue(FakePlatform::DigestOf(map)));
}

// A file of 40 blocks and 10 bytes of noise from `seed`, and the same with 3 bytes of its 21st block changed.
std::pair<std::string, std::string> OldAndNewFile(std::uint64_t seed) {
  std::string old(std::size_t{40} * kMapBlockSize + 10, 'o');
  for (char& c : old) c = static_cast<char>((seed = seed * 6364136223846793005u + 1442695040888963407u) >> 56);
  std::string changed = old;
  changed.replace(std::size_t{20} * kMapBlockSize, 3, "new");
  return {old, changed};
}

std::string MapBytes(const std::string& file) {
  BlockMapBuilder builder;
  builder.Add(file.data(), file.size());
  return SerializeBlockMap(*builder.Finish());
}

}  // namespace

TEST_F(UpdateRunTest, AnIndexNamedByItsHashReplacesTheManifestsEntries) {
  Serve("/a", "new a");
  Serve("/sub/b", "new b");
  Serve("/Ostravine.exe", "new exe");
  const std::string index = "update_size=3\r\n" + Entry(0, "a", "", "") + Hash(0, "new a") +
                            Entry(1, "b", "/sub", "\\sub") + Hash(1, "new b") + Entry(2, "Ostravine.exe", "", "") +
                            Hash(2, "new exe");
  // The manifest's own list makes an updater that does not know the index line fail.
  const std::string manifest = Manifest("2", "5", "update_size=1\r\n" + IndexLine(index));
  const std::string otherVersion = text::ReplaceAll(index, Hash(0, "new a"), Hash(0, "old a"));
  std::string flipped = index;
  flipped[40] ^= 1;
  struct Row {
    const char* what;
    std::string served;  // the index as served; "" when it is not served at all
    int result;
    std::vector<std::string> requests;
  };
  const std::string indexAddress = kFiles + ".index";
  const std::vector<Row> rows{
      {"the index as named",
       index,
       1,
       {kManifestUrl, indexAddress, kFiles + "/a", kFiles + "/sub/b", kFiles + "/Ostravine.exe"}},
      {"one byte changed", flipped, 0, {kManifestUrl, indexAddress}},
      {"longer", index + "\r\n", 0, {kManifestUrl, indexAddress}},
      {"shorter", index.substr(0, index.size() - 1), 0, {kManifestUrl, indexAddress}},
      {"another version's", otherVersion, 0, {kManifestUrl, indexAddress}},
      {"not served", "", 0, {kManifestUrl, indexAddress}},
  };
  for (const Row& row : rows) {
    fake = FakePlatform();
    fake.files["D:\\app\\Ostravine.exe"] = "old exe";
    Serve("/a", "new a");
    Serve("/sub/b", "new b");
    Serve("/Ostravine.exe", "new exe");
    if (!row.served.empty()) fake.served[indexAddress] = row.served;
    Publish(manifest);
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), row.result) << row.what;
    EXPECT_EQ(fake.requests, row.requests) << row.what;
    if (row.result == 0) {
      EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\Ostravine.exe", "old exe"}})) << row.what;
      EXPECT_EQ(fake.folders, std::set<std::string>{"D:\\app"}) << row.what;
    } else {
      EXPECT_EQ(fake.files["D:\\app\\sub\\b"], "new b");
      EXPECT_EQ(fake.files["D:\\app\\Ostravine.exe"], "new exe");
    }
  }

  // A current installation never asks for the index.
  fake = FakePlatform();
  fake.targetVersion = "2";
  fake.targetSize = 5;
  Publish(manifest);
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(fake.requests, std::vector<std::string>{kManifestUrl});
}

TEST_F(UpdateRunTest, AnIndexIsRefusedWholeBeforeAnythingIsTouched) {
  Serve("/a", "a");
  Serve("/b", "b");
  const std::string hashed = Entry(0, "a", "", "\\x") + Hash(0, "a");
  struct Row {
    const char* what;
    std::string tail;  // the manifest after its header
    std::string index;
    std::vector<std::string> requests;
  };
  const std::string indexAddress = kFiles + ".index";
  const std::string big = "update_index=.index " + std::string(64, 'a') + " 67108865\r\n";
  const std::vector<Row> rows{
      {"a malformed index line", "update_size=1\r\nupdate_index=.index 12\r\n", "", {kManifestUrl}},
      {"a size beyond 64 MiB", "update_size=1\r\n" + big, "", {kManifestUrl}},
      {"a count of 0 in the index", "", "update_size=0\r\n" + hashed, {kManifestUrl, indexAddress}},
      {"no count in the index", "", hashed, {kManifestUrl, indexAddress}},
      {"an entry without a hash line",
       "",
       "update_size=2\r\n" + hashed + Entry(1, "b", "", ""),
       {kManifestUrl, indexAddress}},
      {"an unsafe entry",
       "",
       "update_size=2\r\n" + hashed + Entry(1, "..\\b", "", "") + Hash(1, "b"),
       {kManifestUrl, indexAddress}},
      {"a missing entry",
       "",
       "update_size=3\r\n" + hashed + Entry(1, "b", "", "") + Hash(1, "b"),
       {kManifestUrl, indexAddress}},
  };
  for (const Row& row : rows) {
    fake.requests.clear();
    fake.served[indexAddress] = row.index;
    Publish(Manifest("2", "5", row.tail.empty() ? "update_size=1\r\n" + IndexLine(row.index) : row.tail));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << row.what;
    EXPECT_EQ(fake.requests, row.requests) << row.what;
    EXPECT_TRUE(fake.files.empty()) << row.what;
    EXPECT_EQ(fake.folders, std::set<std::string>{"D:\\app"}) << row.what;
  }
}

TEST_F(SignedUpdateRunTest, TheSignatureCoversTheIndexLineAndTheLineTheIndex) {
  Serve("/a", "a");
  const std::string index = "update_size=1\r\n" + Entry(0, "a", "", "") + Hash(0, "a");
  fake.served[kFiles + ".index"] = index;
  fake.signatureValid = true;
  const std::string manifest = Manifest("3", "5", "update_size=1\r\n" + IndexLine(index));
  Publish(Signed(manifest));
  EXPECT_EQ(UpdateRun(fake, options), 1);
  EXPECT_EQ(fake.signedTexts.back(), manifest);
  EXPECT_EQ(fake.files["D:\\app\\a"], "a");
  // The old updater's view: the manifest's own count names an entry that is not there.
  fake = FakePlatform();
  fake.signatureValid = true;
  Publish(Signed(text::ReplaceAll(manifest, "update_index=", "update_other=")));
  EXPECT_EQ(UpdateRun(fake, options), 0);
  EXPECT_EQ(fake.requests, std::vector<std::string>{kManifestUrl});
}

// The updater's own entry: a key build renames itself aside and puts the checked new file in its
// place; a build without a key refuses the entry.
class OwnEntryTest : public SignedUpdateRunTest {
 protected:
  OwnEntryTest() {
    fake.running = kModule;
    fake.files[kModule] = "old updater";
    fake.signatureValid = true;
    fake.targetVersion = "2";
    fake.targetSize = 5;
    Serve("/a", "a");
    Serve("/Merovast.exe", "new updater");
    Serve("/z", "z");
  }
  // Entries a, then the updater as `name` in `to`, then z; the updater's hash line is of `hashed`.
  std::string Release(const std::string& name, const std::string& to = "", const std::string& hashed = "new updater") {
    return Signed(Manifest("3", "5",
                           "update_size=3\r\n" + Entry(0, "a", "", "") + Hash(0, "a") + Entry(1, name, "", to) +
                               Hash(1, hashed) + Entry(2, "z", "", "") + Hash(2, "z")));
  }
  // A rename as the fake records it.
  static std::string Renamed(const std::string& from, const std::string& to) {
    return text::Format("%s -> %s", from.c_str(), to.c_str());
  }
  static inline const std::string kModule = "D:\\app\\Merovast.exe";
  static inline const std::string kAside = "D:\\app\\Merovast.exe.old";
  static inline const std::string kTemporary = "D:\\app\\Merovast.exe.download";
};

TEST_F(OwnEntryTest, AKeyBuildRenamesItselfAsideAndGoesOnWithTheEntriesAfterIt) {
  // Spellings Windows takes for the same file.
  for (const std::string name : {"Merovast.exe", "MEROVAST.EXE", "merovast.exe..", "./Merovast.exe"}) {
    fake.files = {{kModule, "old updater"}};
    fake.running = kModule;
    fake.renames.clear();
    Serve("/" + name, "new updater");
    Publish(Release(name));
    EXPECT_EQ(UpdateRun(fake, options), 1) << name;
    EXPECT_EQ(fake.files[kModule], "new updater") << name;
    EXPECT_EQ(fake.files[kAside], "old updater") << "the running image keeps its bytes";
    EXPECT_EQ(fake.renames, (std::vector<std::string>{Renamed(kModule, kAside), Renamed(kTemporary, kModule)}));
    EXPECT_EQ(fake.files["D:\\app\\z"], "z") << "the run goes on after the updater";
    EXPECT_FALSE(fake.files.contains(kTemporary));
  }
  // The next run removes the aside file first, and finds its own entry current.
  fake.running = kModule;
  fake.renames.clear();
  fake.requests.clear();
  fake.signatureValid = false;
  Publish(Release("Merovast.exe"));
  EXPECT_EQ(UpdateRun(fake, options), 0);
  EXPECT_FALSE(fake.files.contains(kAside)) << "removed even by a run that is refused";
  fake.signatureValid = true;
  fake.files.erase("D:\\app\\z");
  EXPECT_EQ(UpdateRun(fake, options), 1);
  EXPECT_TRUE(fake.renames.empty()) << "the updater is current";
}

TEST_F(OwnEntryTest, AFailedStepLeavesTheRunningUpdaterInItsPlace) {
  struct Row {
    const char* what;
    std::string hashed;
    std::set<std::string> held;
    std::vector<std::string> renames;
  };
  const std::string aside = Renamed(kModule, kAside), back = Renamed(kAside, kModule);
  const std::vector<Row> rows{
      {"the body fails its hash", "other", {}, {}},
      {"the aside file is held", "new updater", {kAside}, {}},
      {"the new file cannot be put in place", "new updater", {kTemporary}, {aside, back}},
  };
  for (const Row& row : rows) {
    fake.files = {{kModule, "old updater"}, {kAside, "older"}};
    fake.running = kModule;
    fake.renames.clear();
    fake.held.clear();
    Publish(Release("Merovast.exe", "", row.hashed));
    // The aside file left by an earlier run is held from the start.
    fake.held = row.held;
    if (!row.held.contains(kAside)) fake.files.erase(kAside);
    EXPECT_EQ(UpdateRun(fake, options), 0) << row.what;
    EXPECT_EQ(fake.files[kModule], "old updater") << row.what;
    EXPECT_EQ(fake.running, kModule) << row.what;
    EXPECT_EQ(fake.renames, row.renames) << row.what;
    EXPECT_FALSE(fake.files.contains("D:\\app\\z")) << row.what << ": nothing after the failed entry";
    EXPECT_EQ(fake.files["D:\\app\\a"], "a") << row.what << ": the entries before it stay";
  }
}

TEST_F(OwnEntryTest, ABuildWithoutAKeyRefusesItsOwnEntryBeforeItsFolderOrRequest) {
  UpdateOptions unkeyed{kManifestUrl};
  for (const auto& [name, to] : std::vector<std::pair<std::string, std::string>>{
           {"Merovast.exe", ""}, {"mErOvAsT.ExE", ""}, {"Merovast.exe", "\\."}, {"Merovast.exe", "//"}}) {
    fake.files = {{kModule, "old updater"}};
    fake.requests.clear();
    Publish(Release(name, to));
    EXPECT_EQ(UpdateRun(fake, unkeyed), 0) << name << to;
    EXPECT_EQ(Downloads(), std::vector<std::string>{kFiles + "/a"}) << name << to;
    EXPECT_EQ(fake.files[kModule], "old updater");
  }
  // A file of that name in a subfolder is some other file.
  fake.folders.insert("D:\\app\\sub");
  Publish(Release("Merovast.exe", "\\sub"));
  EXPECT_EQ(UpdateRun(fake, unkeyed), 1);
  EXPECT_EQ(fake.files["D:\\app\\sub\\Merovast.exe"], "new updater");
  EXPECT_TRUE(fake.renames.empty());
}

TEST_F(OwnEntryTest, AnEntryNamedLikeTheAsideFileIsUnsafeInEveryBuild) {
  Serve("/Merovast.exe.old", "x");
  for (const std::string name : {"Merovast.exe.old", "MEROVAST.EXE.OLD.", "sub\\..\\merovast.exe.old"}) {
    fake.requests.clear();
    fake.files = {{kModule, "old updater"}};
    Publish(Release(name, "", "x"));
    EXPECT_EQ(UpdateRun(fake, options), 0) << name;
    EXPECT_EQ(Downloads(), std::vector<std::string>{}) << "a key build checks every entry first";
    fake.requests.clear();
    fake.files = {{kModule, "old updater"}};
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << name;
    EXPECT_EQ(Downloads(), std::vector<std::string>{kFiles + "/a"}) << name;
  }
}

TEST_F(OwnEntryTest, AManifestSignedByAnyOfTheKeysHolds) {
  PublicKey second{};
  second[0] = 2;
  fake.signingKey = {second};
  Publish(Release("Merovast.exe"));
  EXPECT_EQ(UpdateRun(fake, options), 0) << "signed by a key the updater does not carry";
  options.publicKeys.push_back(second);
  EXPECT_EQ(UpdateRun(fake, options), 1);
  EXPECT_EQ(fake.files[kModule], "new updater");
}

TEST_F(UpdateRunTest, AFileWithAMapIsAssembledFromTheOldOneAndRangesOfTheNew) {
  const auto [old, served] = OldAndNewFile(1);
  const std::string map = MapBytes(served);
  const std::string mapUrl = kFiles + ".maps/big";
  const std::string range = kFiles + "/big bytes=327680-344063";
  struct Row {
    const char* what;
    std::map<std::string, std::string> files;
    std::string servedMap;
    bool wholeForRanges;
    std::vector<std::string> downloads;
    bool mapLine = true;
  };
  // cppcheck-suppress redundantAssignment ; taken for a variable "served.substr": this is a call
  const std::string killed = served.substr(0, std::size_t{30} * kMapBlockSize);
  const std::string rest = kFiles + "/big bytes=491520-655369";
  const std::vector<Row> rows{
      {"the old file as seed", {{"D:\\app\\big", old}}, map, false, {mapUrl, range}},
      {"a partial download as seed",
       {{"D:\\app\\big.seed", served.substr(0, std::size_t{30} * kMapBlockSize)}},
       map,
       false,
       {mapUrl, kFiles + "/big bytes=491520-655369"}},
      {"no file to search: no map asked for", {}, map, false, {kFiles + "/big"}},
      {"a map changed by a byte: whole",
       {{"D:\\app\\big", old}},
       "X" + map.substr(1),
       false,
       {mapUrl, kFiles + "/big"}},
      {"a map not served: whole", {{"D:\\app\\big", old}}, "", false, {mapUrl, kFiles + "/big"}},
      {"a range answered with the whole file", {{"D:\\app\\big", old}}, map, true, {mapUrl, range}},
      {"a killed run's temporary file as seed", {{"D:\\app\\big.download", killed}}, map, false, {mapUrl, rest}},
      {"without a map, a killed run's temporary file is resumed",
       {{"D:\\app\\big", old}, {"D:\\app\\big.download", killed}},
       map,
       false,
       {rest},
       false},
  };
  for (const Row& row : rows) {
    fake.files = row.files;
    fake.requests.clear();
    fake.served.clear();
    fake.wholeForRanges = row.wholeForRanges;
    Serve("/big", served);
    if (!row.servedMap.empty()) fake.served[mapUrl] = row.servedMap;
    Publish(Manifest("2", "5",
                     "update_size=1\r\n" + Entry(0, "big", "", "") + Hash(0, served) +
                         (row.mapLine ? MapLineFor(0, ".maps/big", map) : "")));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << row.what;
    EXPECT_EQ(Downloads(), row.downloads) << row.what;
    EXPECT_TRUE(fake.files["D:\\app\\big"] == served) << row.what;
    EXPECT_FALSE(fake.files.contains("D:\\app\\big.seed")) << row.what;
    EXPECT_FALSE(fake.files.contains("D:\\app\\big.download")) << row.what;
  }
}

TEST_F(UpdateRunTest, AMalformedMapLineEndsTheRunBeforeItsFolder) {
  Serve("/a", "a");
  Publish(Manifest("2", "5",
                   "update_size=1\r\n" + Entry(0, "a", "", "\\sub") + Hash(0, "a") + "update_map0=.maps/a " +
                       std::string(64, '0') + " 4097\r\n"));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << "a map above 1 / 200 of the file and 4 KiB";
  EXPECT_TRUE(Downloads().empty());
  EXPECT_FALSE(fake.folders.contains("D:\\app\\sub"));
}

namespace {

const std::string kStore = "http://cdn.example/o";

// Where the store serves `bytes`: under the first two hex digits of its SHA-256, then all of them.
std::string Object(const std::string& bytes) {
  const std::string hex = HexOf(FakePlatform::DigestOf(bytes).sha256);
  return kStore + "/" + hex.substr(0, 2) + "/" + hex;
}

std::string StoreAt(const std::string& value = kStore) { return manifest_key::Line(manifest_key::kStore, value); }

// The pack line of entry `i`, whose bytes lie at `offset` of `pack`.
std::string PackLineFor(int i, const std::string& pack, std::uint64_t offset) {
  return manifest_key::Line(manifest_key::kPack(i),
                            HashValue(FakePlatform::DigestOf(pack)) + " " + std::to_string(offset));
}

}  // namespace

TEST_F(UpdateRunTest, AStoreServesTheIndexTheEntriesAndTheMapsUnderTheirSha256) {
  const auto [old, big] = OldAndNewFile(7);
  const std::string map = MapBytes(big);
  const std::string index = "update_size=2\r\n" + Entry(0, "\xB5\xD8\xCD\xBC.dat", "/sub", "\\sub") + Hash(0, "new a") +
                            Entry(1, "big", "", "") + Hash(1, big) + MapLineFor(1, ".maps/big", map);
  for (const std::string& object : {std::string("new a"), big, map, index}) fake.served[Object(object)] = object;
  fake.files["D:\\app\\big"] = old;
  // After a build's expiry line too; a build without a key only steps over it.
  for (const std::string& header : {StoreAt(), "update_expires=2000-01-01T00:00:00Z\r\n" + StoreAt()}) {
    fake.requests.clear();
    fake.files.erase("D:\\app\\sub\\\xB5\xD8\xCD\xBC.dat");
    fake.files["D:\\app\\big"] = old;
    Publish(Manifest("2", "5", header + "update_size=1\r\n" + IndexLine(index)));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << header;
    EXPECT_EQ(fake.requests, (std::vector<std::string>{kManifestUrl, Object(index), Object("new a"), Object(map),
                                                       Object(big) + " bytes=327680-344063"}))
        << "nothing is asked below update_url";
    EXPECT_EQ(fake.files["D:\\app\\sub\\\xB5\xD8\xCD\xBC.dat"], "new a");
    EXPECT_TRUE(fake.files["D:\\app\\big"] == big);
  }

  // Without an index the manifest's own entries are fetched from the store the same way.
  fake.requests.clear();
  fake.files.clear();
  Publish(Manifest("2", "5", StoreAt() + "update_size=1\r\n" + Entry(0, "a", "/x y", "") + Hash(0, "new a")));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(Downloads(), std::vector<std::string>{Object("new a")});
  EXPECT_EQ(Object("new a"), kStore + "/" + HexOf(FakePlatform::DigestOf("new a").sha256).substr(0, 2) + "/" +
                                 HexOf(FakePlatform::DigestOf("new a").sha256));
  EXPECT_EQ(fake.files["D:\\app\\a"], "new a");

  // Elsewhere than in the header it is text: the files come from update_url.
  fake.requests.clear();
  fake.files.clear();
  Serve("/a", "served a");
  Publish(Manifest("2", "5", "update_size=1\r\n" + StoreAt("junk") + Entry(0, "a", "", "")));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  EXPECT_EQ(Downloads(), std::vector<std::string>{kFiles + "/a"});
}

TEST_F(UpdateRunTest, AStoreManifestIsRefusedWholeBeforeAnythingIsTouched) {
  const std::string hashed = Entry(0, "a", "", "\\x") + Hash(0, "a");
  const std::string index = "update_size=2\r\n" + hashed + Entry(1, "b", "", "");
  fake.served[Object("a")] = "a";
  fake.served[Object(index)] = index;
  struct Row {
    const char* what;
    std::string tail;  // the manifest after its update_url line
    std::vector<std::string> requests;
  };
  const std::vector<Row> rows{
      {"a malformed store line", StoreAt("https://cdn.example/o") + "update_size=1\r\n" + hashed, {kManifestUrl}},
      {"a feature this updater does not know",
       StoreAt(kStore + " packs deltas") + "update_size=1\r\n" + hashed,
       {kManifestUrl}},
      {"a pack line that runs past its pack",
       StoreAt(kStore + " packs") + "update_size=1\r\n" + hashed + PackLineFor(0, "xy", 2),
       {kManifestUrl}},
      {"a pack line after a map line",
       StoreAt(kStore + " packs") + "update_size=1\r\n" + hashed + MapLineFor(0, ".maps/a", "m") +
           PackLineFor(0, "ab", 0),
       {kManifestUrl}},
      {"a pack line on an empty file",
       StoreAt(kStore + " packs") + "update_size=1\r\n" + Entry(0, "e", "", "\\x") + Hash(0, "") +
           PackLineFor(0, "ab", 0),
       {kManifestUrl}},
      {"a pack line in a later entry stops the run before the first",
       StoreAt(kStore + " packs") + "update_size=2\r\n" + hashed + Entry(1, "b", "", "") + Hash(1, "b") +
           PackLineFor(1, "ab", 2),
       {kManifestUrl}},
      {"a pack line without a store line, in a build that needs no hash",
       "update_size=2\r\n" + Entry(0, "c", "", "\\x") + Entry(1, "b", "", "") + Hash(1, "b") + PackLineFor(1, "ab", 1),
       {kManifestUrl}},
      {"an expiry line after the store line",
       StoreAt() + "update_expires=2099-01-01T00:00:00Z\r\nupdate_size=1\r\n" + hashed,
       {kManifestUrl}},
      {"an entry without a hash line",
       StoreAt() + "update_size=2\r\n" + hashed + Entry(1, "b", "", ""),
       {kManifestUrl}},
      {"an index entry without a hash line",
       StoreAt() + "update_size=1\r\n" + IndexLine(index),
       {kManifestUrl, Object(index)}},
  };
  for (const Row& row : rows) {
    fake.requests.clear();
    Publish(Manifest("2", "5", row.tail));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0) << row.what;
    EXPECT_EQ(fake.requests, row.requests) << row.what;
    EXPECT_TRUE(fake.files.empty()) << row.what;
    EXPECT_EQ(fake.folders, std::set<std::string>{"D:\\app"}) << row.what;
    EXPECT_TRUE(fake.boxes.empty()) << row.what << ": only the caller's failure box follows";

    // A current installation never reads the line.
    fake.requests.clear();
    fake.targetVersion = "2";
    fake.targetSize = 5;
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << row.what;
    EXPECT_EQ(fake.requests, std::vector<std::string>{kManifestUrl}) << row.what;
    fake.targetVersion.clear();
    fake.targetSize = -1;
  }
}

TEST_F(SignedUpdateRunTest, TheSignatureCoversTheStoreLineAndTheUpdatersOwnEntryComesFromTheStore) {
  fake.signatureValid = true;
  fake.running = "D:\\app\\Merovast.exe";
  fake.files[fake.running] = "old updater";
  fake.served[Object("a")] = "a";
  fake.served[Object("new updater")] = "new updater";
  const std::string manifest =
      Manifest("3", "5",
               "update_expires=2099-01-01T00:00:00Z\r\n" + StoreAt() + "update_size=2\r\n" + Entry(0, "a", "", "") +
                   Hash(0, "a") + Entry(1, "Merovast.exe", "", "") + Hash(1, "new updater"));
  Publish(Signed(manifest));
  EXPECT_EQ(UpdateRun(fake, options), 1);
  EXPECT_EQ(fake.signedTexts.back(), manifest);
  EXPECT_EQ(Downloads(), (std::vector<std::string>{Object("a"), Object("new updater")}));
  EXPECT_EQ(fake.files["D:\\app\\Merovast.exe"], "new updater");
}

namespace {

// The removal list after the last entry: one line per path and bytes published there.
std::string Removals(const std::vector<std::pair<std::string, std::string>>& lines) {
  std::string list = manifest_key::Line(manifest_key::kRemoved, std::to_string(lines.size()));
  for (std::size_t i = 0; i < lines.size(); ++i)
    list += manifest_key::Line(manifest_key::kGone(static_cast<long long>(i)),
                               lines[i].first + " " + HashValue(FakePlatform::DigestOf(lines[i].second)));
  return list;
}

}  // namespace

// Release 2 renames \数据\旧地图.map to \数据\地图.map; beside it lies a user's own file.
TEST_F(UpdateRunTest, AFileTheReleaseDroppedIsRemovedOnlyAfterEveryEntryAndOnlyWithThePublishedBytes) {
  const std::string folder = "\\\xCA\xFD\xBE\xDD";                       // 数据
  const std::string oldMap = folder + "\\\xBE\xC9\xB5\xD8\xCD\xBC.map";  // 旧地图.map
  const std::string newMap = "\xB5\xD8\xCD\xBC.map";                     // 地图.map
  const std::string oldPath = "D:\\app" + oldMap, mine = "D:\\app" + folder + "\\mine.map";
  const std::string newMapAddress = folder + "/" + newMap;
  const std::string entries = "update_size=2\r\n" + Entry(0, "Ostravine.exe", "", "") + Hash(0, "exe 2") +
                              Entry(1, newMap, folder, folder) + Hash(1, "map 2");
  const std::string dropped = Removals({{oldMap, "map 1"}});
  struct Row {
    const char* what;
    std::string tail;    // after the header
    std::string onDisk;  // at the old map's path; "" for a folder there, "-" for nothing
    bool held;
    bool served;  // the new map is served
    int result;
    bool oldMapStays;
  };
  const std::vector<Row> rows{
      {"the published bytes", entries + dropped, "map 1", false, true, 1, false},
      {"an older version's, on a line of its own", entries + Removals({{oldMap, "map 0"}, {oldMap, "map 1"}}), "map 1",
       false, true, 1, false},
      {"a user-changed copy", entries + dropped, "map 1, edited", false, true, 1, true},
      {"held open elsewhere", entries + dropped, "map 1", true, true, 1, true},
      {"a folder at the path", entries + dropped, "", false, true, 1, true},
      {"nothing at the path", entries + dropped, "-", false, true, 1, true},
      {"a failed download", entries + dropped, "map 1", false, false, 0, true},
      {"a list not directly after the last entry is none", entries + "x\r\n" + dropped, "map 1", false, true, 1, true},
      // Malformed or naming a file that stays: refused before anything is touched.
      {"the target", entries + Removals({{oldMap, "map 1"}, {"\\Ostravine.exe", "exe 2"}}), "map 1", false, true, 0,
       true},
      {"the updater", entries + Removals({{"\\merovast.EXE", "x"}}), "map 1", false, true, 0, true},
      {"outside the folder", entries + Removals({{"..\\x", "x"}}), "map 1", false, true, 0, true},
      {"outside the folder, from a separator", entries + Removals({{"\\..\\x", "x"}}), "map 1", false, true, 0, true},
      {"a file the release lists, in another case",
       entries + Removals({{folder + "\\" + newMap.substr(0, 4) + ".MAP ", "map 1"}}), "map 1", false, true, 0, true},
      {"a count the lines do not reach", entries + text::ReplaceAll(dropped, "=1\r\n", "=2\r\n"), "map 1", false, true,
       0, true},
      {"an entry without a hash line",
       "update_size=2\r\n" + Entry(0, "Ostravine.exe", "", "") + Hash(0, "exe 2") + Entry(1, newMap, folder, folder) +
           dropped,
       "map 1", false, true, 0, true},
      // With an index, the list stands in the index only.
      {"in the index", "update_size=1\r\n" + IndexLine(entries + dropped), "map 1", false, true, 1, false},
      {"in a manifest with an index", "update_size=1\r\n" + IndexLine(entries) + dropped, "map 1", false, true, 1,
       true},
  };
  for (const Row& row : rows) {
    fake = FakePlatform();
    fake.folders.insert("D:\\app" + folder);
    fake.files = {{"D:\\app\\Ostravine.exe", "exe 1"}, {mine, "map 1"}};
    if (row.onDisk.empty())
      fake.folders.insert(oldPath);
    else if (row.onDisk != "-")
      fake.files[oldPath] = row.onDisk;
    if (row.held) fake.held.insert(oldPath);
    Serve("/Ostravine.exe", "exe 2");
    if (row.served) Serve(newMapAddress, "map 2");
    fake.served[kFiles + ".index"] = entries + dropped;
    if (row.tail.find(IndexLine(entries)) != std::string::npos) fake.served[kFiles + ".index"] = entries;
    Publish(Manifest("2", "5", row.tail));
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), row.result) << row.what;
    EXPECT_EQ(fake.files.contains(oldPath), row.oldMapStays && !row.onDisk.empty() && row.onDisk != "-") << row.what;
    EXPECT_EQ(fake.files[mine], "map 1") << row.what << ": a user's own file beside it stays";
    if (row.onDisk.empty()) {
      EXPECT_TRUE(fake.folders.contains(oldPath)) << row.what;
    }
    if (row.result == 0 && row.served) {
      EXPECT_EQ(fake.files["D:\\app\\Ostravine.exe"], "exe 1") << row.what << ": refused before anything is touched";
    }
  }
}

// A release that renames a file only in case lists it; its old spelling on a removal line would
// name the file just installed, so the line is refused and the file stays.
TEST_F(UpdateRunTest, ARenameOnlyInCaseKeepsTheFile) {
  Serve("/Map.dat", "map");
  fake.files = {{"D:\\app\\map.dat", "map"}};
  Publish(Manifest(
      "2", "5", "update_size=1\r\n" + Entry(0, "Map.dat", "", "") + Hash(0, "map") + Removals({{"\\map.dat", "map"}})));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0);
  EXPECT_EQ(fake.files, (std::map<std::string, std::string>{{"D:\\app\\map.dat", "map"}}));
  EXPECT_EQ(fake.requests, std::vector<std::string>{kManifestUrl});
}

TEST_F(UpdateRunTest, ConsecutiveEntriesInOnePackComeInOneRequestEachCheckedOnItsOwn) {
  // Five files in one pack, in entry order, with bytes of no entry between c and d; then f alone.
  const std::vector<std::string> bytes{"alpha", "bravo-bytes", "charlie", "delta!", "echo echo"};
  const std::string dead(10, '#');
  const std::string pack = bytes[0] + bytes[1] + bytes[2] + dead + bytes[3] + bytes[4];
  const std::vector<std::uint64_t> offsets{0, 5, 16, 33, 39};
  std::string entries = "update_size=6\r\n";
  for (int i = 0; i < 5; ++i)
    entries += Entry(i, std::string(1, static_cast<char>('a' + i)), "", i == 3 ? "\\d" : "") +
               Hash(i, bytes[static_cast<std::size_t>(i)]) + PackLineFor(i, pack, offsets[static_cast<std::size_t>(i)]);
  entries += Entry(5, "f", "", "") + Hash(5, "foxtrot");
  const std::string packUrl = Object(pack);
  const auto range = [&](std::uint64_t first, std::uint64_t last) {
    return text::Format("%s bytes=%llu-%llu", packUrl.c_str(), static_cast<unsigned long long>(first),
                        static_cast<unsigned long long>(last));
  };
  using Answer = FakePlatform::StreamAnswer;
  struct Row {
    const char* what;
    std::map<std::string, std::string> files;  // before the run
    Answer answer;
    std::vector<std::string> downloads;
  };
  // Each file's own range, as the run falls back to after a wrong answer.
  const std::vector<std::string> eachOwn{range(0, 4), range(5, 15), range(16, 22), range(33, 38), range(39, 47)};
  auto fallback = [&](std::vector<std::string> first) {
    first.insert(first.end(), eachOwn.begin(), eachOwn.end());
    first.push_back(Object("foxtrot"));
    return first;
  };
  const std::vector<Row> rows{
      {"a full install: the whole pack, cut into five files", {}, Answer::kRight, {packUrl, Object("foxtrot")}},
      {"the pack answered whole to a range",
       {{"D:\\app\\a", "alpha"}},
       Answer::kWhole,
       {range(5, 47), Object("foxtrot")}},
      {"a current file inside the run is stepped over",
       {{"D:\\app\\b", "bravo-bytes"}},
       Answer::kRight,
       {packUrl, Object("foxtrot")}},
      {"current files at its ends narrow the range",
       {{"D:\\app\\a", "alpha"}, {"D:\\app\\e", "echo echo"}},
       Answer::kRight,
       {range(5, 38), Object("foxtrot")}},
      {"a refused range: each file once as its own range", {}, Answer::kRefused, fallback({packUrl})},
      {"a shifted Content-Range",
       {{"D:\\app\\a", "alpha"}},
       Answer::kShifted,
       {range(5, 47), range(5, 15), range(16, 22), range(33, 38), range(39, 47), Object("foxtrot")}},
      {"a short body: the files already in place stay",
       {},
       Answer::kShort,
       {packUrl, range(39, 47), Object("foxtrot")}},
      {"a killed run's temporary file is resumed on its own and splits the run",
       {{"D:\\app\\c.download", "char"}},
       Answer::kRight,
       {range(0, 15), range(20, 22), range(33, 47), Object("foxtrot")}},
  };
  fake.served[Object("foxtrot")] = "foxtrot";
  const std::string manifest = Manifest("2", "5", StoreAt(kStore + " packs").append(entries));
  for (const Row& row : rows) {
    fake.files = row.files;
    fake.folders = {"D:\\app"};
    fake.requests.clear();
    fake.served[packUrl] = pack;
    fake.streamAnswer = row.answer;
    Publish(manifest);
    EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1) << row.what;
    EXPECT_EQ(Downloads(), row.downloads) << row.what;
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(fake.files[i == 3 ? "D:\\app\\d\\d" : "D:\\app\\" + std::string(1, static_cast<char>('a' + i))],
                bytes[static_cast<std::size_t>(i)])
          << row.what << ": entry " << i;
    EXPECT_EQ(fake.files["D:\\app\\f"], "foxtrot") << row.what;
    EXPECT_FALSE(fake.files.contains("D:\\app\\c.seed")) << row.what;
  }

  // A changed byte in the pack: the files before it are in place, its file fails and keeps its
  // old bytes, and nothing after it is asked for.
  fake.files = {{"D:\\app\\c", "old c"}};
  fake.folders = {"D:\\app"};
  fake.requests.clear();
  fake.streamAnswer = Answer::kRight;
  std::string tampered = pack;
  tampered[18] ^= 1;
  fake.served[packUrl] = tampered;
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 0);
  EXPECT_EQ(Downloads(), std::vector<std::string>{packUrl});
  EXPECT_EQ(fake.files["D:\\app\\b"], "bravo-bytes");
  EXPECT_EQ(fake.files["D:\\app\\c"], "old c");
  EXPECT_FALSE(fake.files.contains("D:\\app\\d\\d"));
  EXPECT_FALSE(fake.folders.contains("D:\\app\\d")) << "the next entry's folder waits for its bytes";
}

TEST_F(UpdateRunTest, ARequestOverAPackGoesOnlyForwardsAndReadsThroughSmallGapsOnly) {
  const std::string small(100, 's');
  const std::string far(kPackGap + 1, 'g');
  const std::string pack = "one" + small + "two" + far + "three" + "four";
  // one, two after 100 bytes, three after one byte more than the gap, four right after it, then
  // one again under another name: back at the pack's start.
  const std::vector<std::pair<std::string, std::uint64_t>> files{
      {"one", 0}, {"two", 103}, {"three", 107 + kPackGap}, {"four", 112 + kPackGap}, {"one", 0}};
  std::string entries = "update_size=5\r\n";
  for (int i = 0; i < 5; ++i)
    entries += Entry(i, "f" + std::to_string(i), "", "") + Hash(i, files[static_cast<std::size_t>(i)].first) +
               PackLineFor(i, pack, files[static_cast<std::size_t>(i)].second);
  fake.served[Object(pack)] = pack;
  Publish(Manifest("2", "5", StoreAt(kStore + " packs") + entries));
  EXPECT_EQ(UpdateRun(fake, kUnkeyed), 1);
  const std::string at = Object(pack) + " bytes=";
  EXPECT_EQ(Downloads(),
            (std::vector<std::string>{
                at + "0-105", at + std::to_string(107 + kPackGap) + "-" + std::to_string(115 + kPackGap), at + "0-2"}))
      << "100 bytes are read through, 64 KiB and one more are not; backwards starts anew";
  EXPECT_EQ(fake.files["D:\\app\\f3"], "four");
  EXPECT_EQ(fake.files["D:\\app\\f4"], "one");
}

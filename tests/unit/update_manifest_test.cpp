#include "update_manifest.hpp"

#include <gtest/gtest.h>

namespace {

const std::string kHeader =
    "update_version=1,0,0,3\r\n"
    "update_filesize=1234\r\n"
    "update_url=http://host:8081/files\r\n";

UpdateManifest Header(const std::string& manifest, bool* ok = nullptr) {
  ManifestReader reader(manifest);
  UpdateManifest m;
  const bool read = reader.ReadHeader(m);
  if (ok) *ok = read;
  return m;
}

// Reads the header, the count and `count` entries; the number of entries read before the first miss.
int EntriesRead(const std::string& manifest, int count, std::vector<ManifestFileEntry>* out = nullptr) {
  ManifestReader reader(manifest);
  UpdateManifest m;
  if (!reader.ReadHeader(m)) return -1;
  for (int i = 0; i < count; ++i) {
    ManifestFileEntry e;
    if (!reader.ReadEntry(i, e)) return i;
    if (out) out->push_back(e);
  }
  return count;
}

}  // namespace

TEST(ManifestHeader, ValuesAreTrimmedOfSpacesOnly) {
  bool ok = false;
  auto m = Header("<html>\r\nupdate_version=  1,0,0,3 \r\nupdate_filesize=\t12\r\nupdate_url= http://h/p \r\n", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(m.update_version, "1,0,0,3");
  EXPECT_EQ(m.update_filesize, "\t12");
  EXPECT_EQ(m.FileSize(), 12);
  EXPECT_EQ(m.update_url, "http://h/p");
}

TEST(ManifestHeader, MissingWhenOutOfOrderOrNotEndedByCrLf) {
  bool ok = true;
  Header("update_filesize=1\r\nupdate_version=1\r\nupdate_url=u\r\n", &ok);
  EXPECT_FALSE(ok) << "file size before version";
  Header("update_version=1\r\nupdate_filesize=1\r\nupdate_url=u", &ok);
  EXPECT_FALSE(ok) << "final line without CR LF";
  Header("update_version=1\nupdate_filesize=1\nupdate_url=u\n", &ok);
  EXPECT_FALSE(ok) << "LF-only line ends";
  Header(kHeader.substr(0, 20) + std::string(1, '\0') + kHeader.substr(20), &ok);
  EXPECT_FALSE(ok) << "text ends at its first zero byte";
  // A key may stand mid-line; the value runs to the CR LF and may be empty.
  auto m = Header("x update_version=\r\nupdate_filesize=-1\r\nupdate_url=u\r\n", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(m.update_version, "");
  EXPECT_EQ(m.FileSize(), -1);
}

TEST(ManifestHeader, KeyOnTheTrailByteOfAGbkCharacterIsNotFound) {
  bool ok = true;
  // 0xB5 'u' is one GBK character: the version key here does not begin a character.
  Header("\xB5update_version=9\r\nupdate_filesize=1\r\nupdate_url=u\r\n", &ok);
  EXPECT_FALSE(ok);
  // A double-byte character directly before the key (the GBK text for "version") is fine.
  auto m = Header("\xB0\xE6\xB1\xBE" + kHeader, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(m.update_version, "1,0,0,3");
}

TEST(ManifestCount, IsSearchedAfterTheUrlLine) {
  auto count = [](const std::string& manifest) {
    ManifestReader reader(manifest);
    UpdateManifest m;
    EXPECT_TRUE(reader.ReadHeader(m));
    return reader.ReadFileCount(m) ? std::optional<int>(m.FileCount()) : std::nullopt;
  };
  EXPECT_EQ(count(kHeader + "update_size=3abc\r\n"), 3);
  EXPECT_EQ(count(kHeader + "update_size=abc\r\n"), 0);
  EXPECT_EQ(count(kHeader + "update_size=-2\r\n"), -2);
  EXPECT_EQ(count(kHeader + "update_size=4294967298\r\n"), 2);
  EXPECT_EQ(count("update_size=1\r\n" + kHeader), std::nullopt);
}

TEST(ManifestEntries, AreReadInIndexOrderEachAfterThePrevious) {
  std::string manifest = "update_name0=a.dll\r\nupdate_from0=\r\nupdate_to0=\r\n" + kHeader + "update_size=11\r\n";
  for (int i = 1; i <= 10; ++i)
    manifest += text::Format("update_name%d=f%d\r\nupdate_from%d=/d\r\nupdate_to%d= \\d \r\n", i, i, i, i);
  std::vector<ManifestFileEntry> entries;
  ASSERT_EQ(EntriesRead(manifest, 11, &entries), 11) << "entry 0 may stand before the header";
  EXPECT_EQ(entries[0].name, "a.dll");
  EXPECT_EQ(entries[0].to, "");
  EXPECT_EQ(entries[1].name, "f1") << "update_name1= must not be found inside update_name10=";
  EXPECT_EQ(entries[10].name, "f10");
  EXPECT_EQ(entries[10].to, "\\d");

  // Entry 1's name before entry 0's to line, and from before name, are missing keys.
  const std::string swapped = kHeader +
                              "update_name0=a\r\nupdate_name1=b\r\nupdate_from0=\r\nupdate_to0=\r\n"
                              "update_from1=\r\nupdate_to1=\r\n";
  EXPECT_EQ(EntriesRead(swapped, 2), 1);
  EXPECT_EQ(EntriesRead(kHeader + "update_from0=\r\nupdate_name0=a\r\nupdate_to0=\r\n", 1), 0);
}

TEST(ManifestEntries, HashLinesChangeNothingOfTheEntriesRead) {
  const std::string entries = kHeader +
                              "update_name0=a\r\nupdate_from0=\r\nupdate_to0=\r\n"
                              "update_hash0= " +
                              std::string(64, 'f') +
                              " 12 \r\n"
                              "update_name1=b\r\nupdate_from1=/x\r\nupdate_to1=\\x\r\n"
                              "update_hash1=junk\r\n";
  std::vector<ManifestFileEntry> plain, hashed;
  ASSERT_EQ(EntriesRead(kHeader + "update_name0=a\r\nupdate_from0=\r\nupdate_to0=\r\n"
                                  "update_name1=b\r\nupdate_from1=/x\r\nupdate_to1=\\x\r\n",
                        2, &plain),
            2);
  ASSERT_EQ(EntriesRead(entries, 2, &hashed), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(hashed[i].name, plain[i].name);
    EXPECT_EQ(hashed[i].from, plain[i].from);
    EXPECT_EQ(hashed[i].to, plain[i].to);
  }

  ManifestReader reader(entries);
  ManifestFileEntry entry;
  FileDigest digest;
  ASSERT_TRUE(reader.ReadEntry(0, entry));
  ASSERT_EQ(reader.ReadEntryHash(0, digest), ManifestReader::HashLine::kPresent);
  EXPECT_EQ(digest.size, 12);
  EXPECT_EQ(HexOf(digest.sha256), std::string(64, 'f'));
  ASSERT_TRUE(reader.ReadEntry(1, entry));
  EXPECT_EQ(reader.ReadEntryHash(1, digest), ManifestReader::HashLine::kMalformed);
}

TEST(ManifestEntries, AMapLineCountsOnlyDirectlyAfterAWellFormedHashLine) {
  const std::string entry = kHeader + "update_size=1\r\nupdate_name0=a\r\nupdate_from0=\r\nupdate_to0=\r\n";
  const std::string hash = "update_hash0=" + std::string(64, 'f') + " 400000\r\n";
  const std::string mapHash = std::string(64, 'e');
  struct Row {
    std::string lines;
    OptionalLine expected;
    std::string from;
    std::int32_t size;
  };
  // 400000 / 200 + 4096 = 6096 bytes at most.
  const std::vector<Row> rows{
      {hash + "update_map0=.maps/x " + mapHash + " 6096\r\n", OptionalLine::kPresent, ".maps/x", 6096},
      {hash + "update_map0= /m a p " + mapHash + " 7 \r\n", OptionalLine::kPresent, "/m a p", 7},
      {hash + "update_map0=.maps/x " + mapHash + " 6097\r\n", OptionalLine::kMalformed, "", 0},
      {hash + "update_map0=" + mapHash + " 7\r\n", OptionalLine::kMalformed, "", 0},   // no from
      {hash + "update_map0= " + mapHash + " 7\r\n", OptionalLine::kMalformed, "", 0},  // from empty once trimmed
      {hash + "update_map0=f " + mapHash + " 07\r\n", OptionalLine::kMalformed, "", 0},
      {hash + "update_map0=f " + std::string(64, 'E') + " 7\r\n", OptionalLine::kMalformed, "", 0},
      {hash + "update_map0=f " + mapHash + " 7", OptionalLine::kMalformed, "", 0},  // no CR LF
      {hash + "x\r\nupdate_map0=f " + mapHash + " 7\r\n", OptionalLine::kAbsent, "", 0},
      {"update_map0=f " + mapHash + " 7\r\n" + hash, OptionalLine::kAbsent, "", 0},  // before the hash line
      {"update_map0=f " + mapHash + " 7\r\n", OptionalLine::kAbsent, "", 0},         // no hash line
      {"update_hash0=junk\r\nupdate_map0=f " + mapHash + " 7\r\n", OptionalLine::kAbsent, "", 0},
      {hash + "update_map00=f " + mapHash + " 7\r\n", OptionalLine::kAbsent, "", 0},
  };
  for (const Row& row : rows) {
    ManifestReader reader(entry + row.lines);
    ManifestFileEntry read;
    MapLine map;
    ASSERT_TRUE(reader.ReadEntry(0, read)) << row.lines;
    EXPECT_EQ(reader.ReadEntryMap(0, map), row.expected) << row.lines;
    if (row.expected != OptionalLine::kPresent) continue;
    EXPECT_EQ(map.from, row.from);
    EXPECT_EQ(map.digest.size, row.size);
    EXPECT_EQ(HexOf(map.digest.sha256), mapHash);
    EXPECT_EQ(ParseMapValue(MapValue(map), 400000)->from, row.from) << "written as it is read";
  }
}

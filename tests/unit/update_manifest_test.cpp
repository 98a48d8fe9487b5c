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

TEST(ManifestIndexLine, StandsDirectlyAfterTheCountAndIsReadFromTheRight) {
  const std::string hex(64, 'a');
  struct Row {
    std::string afterCount;  // the text right after the update_size line
    ManifestReader::Line line;
    std::string from;
    std::int32_t size;
  };
  const std::vector<Row> rows{
      {"update_index=.index " + hex + " 120\r\n", ManifestReader::Line::kPresent, ".index", 120},
      {"update_index= my dir/1,0,0,4.index " + hex + " 0 \r\n", ManifestReader::Line::kPresent, "my dir/1,0,0,4.index",
       0},
      {"update_index=a  " + hex + " 7\r\n", ManifestReader::Line::kPresent, "a ", 7},
      {"update_index=.index " + hex + " 67108864\r\n", ManifestReader::Line::kPresent, ".index", 64 << 20},
      // Malformed: beyond the size an updater fetches, no from, a short hash, upper case, a leading
      // zero, no size, no CR LF.
      {"update_index=.index " + hex + " 67108865\r\n", ManifestReader::Line::kMalformed, "", 0},
      {"update_index=" + hex + " 12\r\n", ManifestReader::Line::kMalformed, "", 0},
      {"update_index=.index " + hex.substr(1) + " 12\r\n", ManifestReader::Line::kMalformed, "", 0},
      {"update_index=.index " + std::string(64, 'A') + " 12\r\n", ManifestReader::Line::kMalformed, "", 0},
      {"update_index=.index " + hex + " 012\r\n", ManifestReader::Line::kMalformed, "", 0},
      {"update_index=.index " + hex + "\r\n", ManifestReader::Line::kMalformed, "", 0},
      {"update_index=.index " + hex + " 12", ManifestReader::Line::kMalformed, "", 0},
      // The key standing anywhere else is no index line.
      {"\r\nupdate_index=.index " + hex + " 12\r\n", ManifestReader::Line::kAbsent, "", 0},
      {"x update_index=.index " + hex + " 12\r\n", ManifestReader::Line::kAbsent, "", 0},
  };
  for (const Row& row : rows) {
    const std::string manifest = kHeader + "update_size=1\r\n" + row.afterCount;
    ManifestReader reader(manifest);
    UpdateManifest m;
    ASSERT_TRUE(reader.ReadHeader(m));
    HelperFile index;
    EXPECT_EQ(reader.ReadIndexLine(index), ManifestReader::Line::kAbsent) << "read only after the count";
    ASSERT_TRUE(reader.ReadFileCount(m));
    EXPECT_EQ(reader.ReadIndexLine(index), row.line) << row.afterCount;
    if (row.line != ManifestReader::Line::kPresent) continue;
    EXPECT_EQ(index.from, row.from);
    EXPECT_EQ(index.digest.size, row.size);
    EXPECT_EQ(HexOf(index.digest.sha256), hex);
  }
  // Before the count, or ahead of the header, it is no index line either.
  const std::string manifest = "update_index=.index " + hex + " 1\r\n" + kHeader + "update_size=1\r\n";
  ManifestReader before(manifest);
  UpdateManifest m;
  HelperFile index;
  ASSERT_TRUE(before.ReadHeader(m) && before.ReadFileCount(m));
  EXPECT_EQ(before.ReadIndexLine(index), ManifestReader::Line::kAbsent);
}

// Each search goes on from the previous match: an index of 100,000 entries with double-byte names
// is read whole (a reader that searched from the start for every key would not end in a test's time).
TEST(ManifestEntries, AHundredThousandEntryIndexIsReadInOnePass) {
  constexpr int kCount = 100000;
  std::string index = text::Format("update_size=%d\r\n", kCount);
  index.reserve(static_cast<std::size_t>(kCount) * 160);
  const std::string hash = std::string(64, 'c') + " 4096";
  for (int i = 0; i < kCount; ++i)
    index += text::Format("update_name%d=\xB5\xD8\xCD\xBC%d.dat\r\nupdate_from%d=/d%d\r\nupdate_to%d=\\d%d\r\n", i, i,
                          i, i % 50, i, i % 50) +
             text::Format("update_hash%d=%s\r\n", i, hash.c_str());
  ManifestReader reader(index);
  UpdateManifest m;
  ASSERT_TRUE(reader.ReadIndexCount(m));
  ASSERT_EQ(m.FileCount(), kCount);
  ManifestFileEntry entry;
  FileDigest digest;
  int read = 0;
  for (int i = 0; i < kCount && reader.ReadEntry(i, entry); ++i)
    read += reader.ReadEntryHash(i, digest) == ManifestReader::Line::kPresent ? 1 : 0;
  EXPECT_EQ(read, kCount);
  EXPECT_EQ(entry.name,
            "\xB5\xD8\xCD\xBC"
            "99999.dat");
  EXPECT_EQ(entry.to, "\\d49");
}

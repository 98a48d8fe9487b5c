#include "manifest/update_manifest.hpp"

#include <gtest/gtest.h>

#include "manifest/manifest_keys.hpp"
#include "manifest/version_numbers.hpp"

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
    return reader.ReadCount(m) ? std::optional<int>(m.FileCount()) : std::nullopt;
  };
  EXPECT_EQ(count(kHeader + "update_size=3abc\r\n"), 3);
  EXPECT_EQ(count(kHeader + "update_size=abc\r\n"), 0);
  EXPECT_EQ(count(kHeader + "update_size=-2\r\n"), -2);
  EXPECT_EQ(count(kHeader + "update_size=4294967298\r\n"), 2);
  EXPECT_EQ(count("update_size=1\r\n" + kHeader), std::nullopt);

  // A release index has no header: its count is searched from the start. A manifest whose header
  // is missing has no count.
  const std::string index = "update_size=2\r\n";
  ManifestReader indexReader(index), headless(index);
  UpdateManifest m;
  ASSERT_TRUE(indexReader.ReadCount(m));
  EXPECT_EQ(m.FileCount(), 2);
  EXPECT_FALSE(headless.ReadHeader(m));
  EXPECT_FALSE(headless.ReadCount(m));
}

TEST(ManifestEntries, AreReadInIndexOrderEachAfterThePrevious) {
  std::string manifest = "update_name0=a.dll\r\nupdate_from0=\r\nupdate_to0=\r\n" + kHeader + "update_size=11\r\n";
  for (int i = 1; i <= 10; ++i)
    manifest += manifest_key::Line(manifest_key::kName(i), "f" + std::to_string(i)) +
                manifest_key::Line(manifest_key::kFrom(i), "/d") + manifest_key::Line(manifest_key::kTo(i), " \\d ");
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
  ASSERT_EQ(reader.ReadEntryHash(0, digest), OptionalLine::kPresent);
  EXPECT_EQ(digest.size, 12);
  EXPECT_EQ(HexOf(digest.sha256), std::string(64, 'f'));
  ASSERT_TRUE(reader.ReadEntry(1, entry));
  EXPECT_EQ(reader.ReadEntryHash(1, digest), OptionalLine::kMalformed);
}

TEST(ManifestVersionNumbers, OneToFourNumbersWithOneKindOfSeparator) {
  const std::vector<std::pair<std::string, std::optional<VersionNumbers>>> rows{
      {"1,0,0,4", VersionNumbers{{1, 0, 0, 4}}},
      {"1.0.0.4", VersionNumbers{{1, 0, 0, 4}}},
      {"2", VersionNumbers{{2, 0, 0, 0}}},
      {"65535,0,7", VersionNumbers{{65535, 0, 7, 0}}},
      {"0001.2", VersionNumbers{{1, 2, 0, 0}}},
      {"", std::nullopt},
      {"65536", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"1,0,0,4,5", std::nullopt},
      {"1.0,0", std::nullopt},
      {"1,,4", std::nullopt},
      {"1,0,", std::nullopt},
      {",1", std::nullopt},
      {"1, 0", std::nullopt},  // the target's text has its spaces removed, the manifest's only trimmed
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"1a", std::nullopt},
      {"\xA3\xB1", std::nullopt},  // a double-byte digit one
  };
  for (const auto& [text, numbers] : rows) EXPECT_EQ(ReadVersionNumbers(text), numbers) << text;
  EXPECT_LT(*ReadVersionNumbers("1,0,0,3"), *ReadVersionNumbers("1.0.0.4"));
  EXPECT_LT(*ReadVersionNumbers("1,9"), *ReadVersionNumbers("1,10"));
  EXPECT_EQ(*ReadVersionNumbers("1.2"), *ReadVersionNumbers("1,2,0,0"));
  EXPECT_GT(*ReadVersionNumbers("2"), *ReadVersionNumbers("1,65535,65535,65535"));
}

TEST(ManifestUtcTime, OnlyARealDateAndTimeInTheOneForm) {
  const std::vector<std::pair<std::string, std::optional<UtcSeconds>>> rows{
      {"1970-01-01T00:00:00Z", 0},
      {"2000-01-01T00:00:00Z", 946684800},
      {"2000-02-29T23:59:59Z", 951868799},  // 2000 is a leap year
      {"2024-02-29T00:00:00Z", 1709164800},
      {"2027-01-31T00:00:00Z", 1801353600},
      {"2099-12-31T23:59:59Z", 4102444799},
      {"1969-12-31T23:59:59Z", -1},
      {"2100-02-29T00:00:00Z", std::nullopt},  // 2100 is not
      {"2026-02-29T00:00:00Z", std::nullopt},
      {"2026-04-31T00:00:00Z", std::nullopt},
      {"2026-00-10T00:00:00Z", std::nullopt},
      {"2026-13-10T00:00:00Z", std::nullopt},
      {"2026-01-00T00:00:00Z", std::nullopt},
      {"2026-01-01T24:00:00Z", std::nullopt},
      {"2026-01-01T00:60:00Z", std::nullopt},
      {"2026-01-01T00:00:60Z", std::nullopt},  // no leap second
      {"2026-01-01T00:00:00", std::nullopt},
      {"2026-01-01T00:00:00+00:00", std::nullopt},
      {"2026-01-01 00:00:00Z", std::nullopt},
      {"2026-01-01t00:00:00z", std::nullopt},
      {"2026-1-01T00:00:00Z", std::nullopt},
      {"+026-01-01T00:00:00Z", std::nullopt},
      {"2026-01-01T00:00:00.0Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, seconds] : rows) {
    EXPECT_EQ(ReadUtcTime(text), seconds) << text;
    if (seconds) {
      EXPECT_EQ(UtcTimeText(*seconds), text);
    }
  }
  EXPECT_EQ(UtcTimeText(253402300799), "9999-12-31T23:59:59Z");
}

TEST(ManifestExpiry, OnlyTheLineRightAfterTheUrlLine) {
  const std::string line = "update_expires=2027-01-31T00:00:00Z\r\n";
  struct Row {
    std::string manifest;
    OptionalLine expected;
  };
  const std::vector<Row> rows{
      {kHeader + line + "update_size=0\r\n", OptionalLine::kPresent},
      {kHeader + "update_expires= 2027-01-31T00:00:00Z \r\n", OptionalLine::kPresent},
      {kHeader, OptionalLine::kAbsent},
      {kHeader + "x\r\n" + line, OptionalLine::kAbsent},
      {line + kHeader, OptionalLine::kAbsent},
      {kHeader + "update_expires=2027-01-31\r\n", OptionalLine::kMalformed},
      {kHeader + "update_expires=2027-01-31T00:00:00Z", OptionalLine::kMalformed},  // no CR LF
      {kHeader + "update_expires=\r\n", OptionalLine::kMalformed},
  };
  for (const Row& row : rows) {
    ManifestReader reader(row.manifest);
    UpdateManifest m;
    ASSERT_TRUE(reader.ReadHeader(m)) << row.manifest;
    UtcSeconds expires = 0;
    EXPECT_EQ(reader.ReadExpiry(expires), row.expected) << row.manifest;
    if (row.expected == OptionalLine::kPresent) {
      EXPECT_EQ(expires, 1801353600);
    }
  }
  // The count is still found after it.
  const std::string manifest = kHeader + line + "update_size=3\r\n";
  ManifestReader reader(manifest);
  UpdateManifest m;
  ASSERT_TRUE(reader.ReadHeader(m));
  ASSERT_TRUE(reader.ReadCount(m));
  EXPECT_EQ(m.FileCount(), 3);
}

TEST(ManifestIndexLine, StandsDirectlyAfterTheCountAndIsReadFromTheRight) {
  const std::string hex(64, 'a');
  struct Row {
    std::string afterCount;  // the text right after the update_size line
    OptionalLine line;
    std::string from;
    std::int32_t size;
  };
  const std::vector<Row> rows{
      {"update_index=.index " + hex + " 120\r\n", OptionalLine::kPresent, ".index", 120},
      {"update_index= my dir/1,0,0,4.index " + hex + " 0 \r\n", OptionalLine::kPresent, "my dir/1,0,0,4.index", 0},
      {"update_index=a  " + hex + " 7\r\n", OptionalLine::kPresent, "a ", 7},
      {"update_index=.index " + hex + " 67108864\r\n", OptionalLine::kPresent, ".index", 64 << 20},
      // Malformed: beyond the size an updater fetches, no from, a short hash, upper case, a leading
      // zero, no size, no CR LF.
      {"update_index=.index " + hex + " 67108865\r\n", OptionalLine::kMalformed, "", 0},
      {"update_index=" + hex + " 12\r\n", OptionalLine::kMalformed, "", 0},
      {"update_index=.index " + hex.substr(1) + " 12\r\n", OptionalLine::kMalformed, "", 0},
      {"update_index=.index " + std::string(64, 'A') + " 12\r\n", OptionalLine::kMalformed, "", 0},
      {"update_index=.index " + hex + " 012\r\n", OptionalLine::kMalformed, "", 0},
      {"update_index=.index " + hex + "\r\n", OptionalLine::kMalformed, "", 0},
      {"update_index=.index " + hex + " 12", OptionalLine::kMalformed, "", 0},
      // The key standing anywhere else is no index line.
      {"\r\nupdate_index=.index " + hex + " 12\r\n", OptionalLine::kAbsent, "", 0},
      {"x update_index=.index " + hex + " 12\r\n", OptionalLine::kAbsent, "", 0},
  };
  for (const Row& row : rows) {
    const std::string manifest = kHeader + "update_size=1\r\n" + row.afterCount;
    ManifestReader reader(manifest);
    UpdateManifest m;
    ASSERT_TRUE(reader.ReadHeader(m));
    HelperFile index;
    EXPECT_EQ(reader.ReadIndexLine(index), OptionalLine::kAbsent) << "read only after the count";
    ASSERT_TRUE(reader.ReadCount(m));
    EXPECT_EQ(reader.ReadIndexLine(index), row.line) << row.afterCount;
    if (row.line != OptionalLine::kPresent) continue;
    EXPECT_EQ(index.from, row.from);
    EXPECT_EQ(index.digest.size, row.size);
    EXPECT_EQ(HexOf(index.digest.sha256), hex);
  }
  // Before the count, or ahead of the header, it is no index line either.
  const std::string manifest = "update_index=.index " + hex + " 1\r\n" + kHeader + "update_size=1\r\n";
  ManifestReader before(manifest);
  UpdateManifest m;
  HelperFile index;
  ASSERT_TRUE(before.ReadHeader(m) && before.ReadCount(m));
  EXPECT_EQ(before.ReadIndexLine(index), OptionalLine::kAbsent);
}

// Each search goes on from the previous match: an index of 100,000 entries with double-byte names
// is read whole (a reader that searched from the start for every key would not end in a test's time).
TEST(ManifestEntries, AHundredThousandEntryIndexIsReadInOnePass) {
  constexpr int kCount = 100000;
  namespace keys = manifest_key;
  std::string index = keys::Line(keys::kSize, std::to_string(kCount));
  index.reserve(static_cast<std::size_t>(kCount) * 160);
  const std::string hash = std::string(64, 'c') + " 4096";
  for (int i = 0; i < kCount; ++i) {
    const std::string folder = std::to_string(i % 50);
    index += keys::Line(keys::kName(i), "\xB5\xD8\xCD\xBC" + std::to_string(i) + ".dat") +
             keys::Line(keys::kFrom(i), "/d" + folder) + keys::Line(keys::kTo(i), "\\d" + folder) +
             keys::Line(keys::kHash(i), hash);
  }
  ManifestReader reader(index);
  UpdateManifest m;
  ASSERT_TRUE(reader.ReadCount(m));
  ASSERT_EQ(m.FileCount(), kCount);
  ManifestFileEntry entry;
  FileDigest digest;
  int read = 0;
  for (int i = 0; i < kCount && reader.ReadEntry(i, entry); ++i)
    read += reader.ReadEntryHash(i, digest) == OptionalLine::kPresent ? 1 : 0;
  EXPECT_EQ(read, kCount);
  EXPECT_EQ(entry.name,
            "\xB5\xD8\xCD\xBC"
            "99999.dat");
  EXPECT_EQ(entry.to, "\\d49");
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
    const std::string text = entry + row.lines;
    ManifestReader reader(text);
    ManifestFileEntry read;
    MapLine map;
    FileDigest digest;
    ASSERT_TRUE(reader.ReadEntry(0, read)) << row.lines;
    reader.ReadEntryHash(0, digest);
    EXPECT_EQ(reader.ReadEntryMap(0, map), row.expected) << row.lines;
    if (row.expected != OptionalLine::kPresent) continue;
    EXPECT_EQ(map.from, row.from);
    EXPECT_EQ(map.digest.size, row.size);
    EXPECT_EQ(HexOf(map.digest.sha256), mapHash);
    EXPECT_EQ(ParseMapValue(MapValue(map), 400000)->from, row.from) << "written as it is read";
  }
}

TEST(ManifestStoreLine, StandsAfterTheUrlLineOrItsExpiryAndHoldsAnHttpUrlAndFeatureWords) {
  const std::string expiry = "update_expires=2027-01-31T00:00:00Z\r\n";
  const std::string url = "http://cdn.example/o";
  const std::string longest = "http://cdn.example/" + std::string(kStoreUrlLimit - 19, 'x');
  struct Row {
    std::string afterUrl;  // the text right after the update_url line
    OptionalLine line;
    std::string url;
    std::vector<std::string> features;
  };
  const std::vector<Row> rows{
      {"update_store=" + url + "\r\nupdate_size=1\r\n", OptionalLine::kPresent, url, {}},
      {"update_store= http://127.0.0.1:8081/o/s-1.x%20y \r\n",
       OptionalLine::kPresent,
       "http://127.0.0.1:8081/o/s-1.x%20y",
       {}},
      {"update_store=http://h\r\n", OptionalLine::kPresent, "http://h", {}},
      {"update_store=http://h/a@b\r\n", OptionalLine::kPresent, "http://h/a@b", {}},  // an @ in the path
      {"update_store=" + longest + "\r\n", OptionalLine::kPresent, longest, {}},
      {"update_store=" + url + " packs x-2\r\n", OptionalLine::kPresent, url, {"packs", "x-2"}},
      {expiry + "update_store=" + url + "\r\n", OptionalLine::kPresent, url, {}},
      {"update_expires=junk\r\nupdate_store=" + url + "\r\n", OptionalLine::kPresent, url, {}},
      // Malformed: too long, a query, a fragment, user information, a trailing slash, another
      // scheme, no host, a space twice, a byte that is no printable ASCII, no CR LF, empty.
      {"update_store=" + longest + "x\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url + "?v=2\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url + "#x\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=http://user@cdn.example/o\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=http://user:pw@cdn.example\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url + "/\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=http://cdn.example/\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=https://cdn.example/o\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=HTTP://cdn.example/o\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=cdn.example/o\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=http://\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=http:///o\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url + "  packs\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url + " packs\tx\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url + "/\xB5\xD8\r\n", OptionalLine::kMalformed, "", {}},
      {"update_store=" + url, OptionalLine::kMalformed, "", {}},
      {"update_store=\r\n", OptionalLine::kMalformed, "", {}},
      // An expiry line after it would be read by no build.
      {"update_store=" + url + "\r\n" + expiry, OptionalLine::kMalformed, "", {}},
      {expiry + "update_store=" + url + "\r\n" + expiry, OptionalLine::kMalformed, "", {}},
      // Anywhere else it is no store line.
      {"x\r\nupdate_store=" + url + "\r\n", OptionalLine::kAbsent, "", {}},
      {expiry + "x\r\nupdate_store=" + url + "\r\n", OptionalLine::kAbsent, "", {}},
      {"update_size=1\r\nupdate_store=" + url + "\r\n", OptionalLine::kAbsent, "", {}},
      {"update_stores=" + url + "\r\n", OptionalLine::kAbsent, "", {}},
      {"update_expires=2027-01-31T00:00:00Zupdate_store=" + url + "\r\n", OptionalLine::kAbsent, "", {}},
  };
  for (const Row& row : rows) {
    const std::string manifest = kHeader + row.afterUrl;
    ManifestReader reader(manifest);
    UpdateManifest m;
    ASSERT_TRUE(reader.ReadHeader(m));
    StoreLine store;
    EXPECT_EQ(reader.ReadStore(store), row.line) << row.afterUrl;
    if (row.line != OptionalLine::kPresent) continue;
    EXPECT_EQ(store.url, row.url) << row.afterUrl;
    EXPECT_EQ(store.features, row.features) << row.afterUrl;
    EXPECT_EQ(ParseStoreValue(StoreValue(store))->url, store.url) << "written as it is read";
  }
  // Ahead of the header it is no store line; after it, the count and a key build's expiry are
  // read as without it.
  const std::string before = "update_store=" + url + "\r\n" + kHeader;
  ManifestReader ahead(before);
  UpdateManifest m;
  StoreLine store;
  ASSERT_TRUE(ahead.ReadHeader(m));
  EXPECT_EQ(ahead.ReadStore(store), OptionalLine::kAbsent);
  const std::string manifest = kHeader + expiry + "update_store=" + url + "\r\nupdate_size=3\r\n";
  ManifestReader reader(manifest);
  UtcSeconds expires = 0;
  ASSERT_TRUE(reader.ReadHeader(m));
  EXPECT_EQ(reader.ReadExpiry(expires), OptionalLine::kPresent);
  EXPECT_EQ(reader.ReadStore(store), OptionalLine::kPresent);
  ASSERT_TRUE(reader.ReadCount(m));
  EXPECT_EQ(m.FileCount(), 3);
}

TEST(ManifestStoreLine, PacksIsTheOneKnownFeature) {
  EXPECT_EQ(UnknownStoreFeature({"http://h/o", {}}), std::nullopt);
  EXPECT_EQ(UnknownStoreFeature({"http://h/o", {"packs"}}), std::nullopt);
  EXPECT_EQ(UnknownStoreFeature({"http://h/o", {"packs"}}, {}), "packs")
      << "an updater that knows the store but not packs refuses a packed release";
  EXPECT_EQ(UnknownStoreFeature({"http://h/o", {"x", "y"}}), "x");
  EXPECT_EQ(UnknownStoreFeature({"http://h/o", {"packs", "y"}}), "y");
}

TEST(ManifestEntries, APackLineCountsOnlyDirectlyAfterAWellFormedHashLineAndWithoutAMap) {
  const std::string entry = kHeader + "update_size=1\r\nupdate_name0=a\r\nupdate_from0=\r\nupdate_to0=\r\n";
  const std::string packHash = std::string(64, 'c');
  const auto hash = [](const char* size) { return "update_hash0=" + std::string(64, 'f') + " " + size + "\r\n"; };
  const std::string map = "update_map0=.maps/x " + std::string(64, 'e') + " 7\r\n";
  struct Row {
    std::string lines;
    OptionalLine expected;
    std::uint64_t offset;
  };
  const std::vector<Row> rows{
      {hash("100") + "update_pack0=" + packHash + " 8388608 0\r\n", OptionalLine::kPresent, 0},
      {hash("100") + "update_pack0= " + packHash + " 300 200 \r\n", OptionalLine::kPresent, 200},  // ends the pack
      {hash("100") + "update_pack0=" + packHash + " 300 201\r\n", OptionalLine::kMalformed, 0},    // past its end
      // Offset and size add up past 32 bits without wrapping round.
      {hash("2147483647") + "update_pack0=" + packHash + " 2147483647 2147483647\r\n", OptionalLine::kMalformed, 0},
      {hash("0") + "update_pack0=" + packHash + " 300 0\r\n", OptionalLine::kMalformed, 0},  // an empty file
      {hash("100") + "update_pack0=" + packHash + " 300 -1\r\n", OptionalLine::kMalformed, 0},
      {hash("100") + "update_pack0=" + packHash + " 300 2147483648\r\n", OptionalLine::kMalformed, 0},
      {hash("100") + "update_pack0=" + packHash + " 300\r\n", OptionalLine::kMalformed, 0},  // no offset
      {hash("100") + "update_pack0=" + packHash + "  300 0\r\n", OptionalLine::kMalformed, 0},
      {hash("100") + "update_pack0=x" + packHash + " 300 0\r\n", OptionalLine::kMalformed, 0},
      {hash("100") + "update_pack0=" + packHash + " 300 0", OptionalLine::kMalformed, 0},  // no CR LF
      {hash("100") + map + "update_pack0=" + packHash + " 300 0\r\n", OptionalLine::kMalformed, 0},
      {hash("100") + "update_pack0=" + packHash + " 300 0\r\n" + map, OptionalLine::kMalformed, 0},
      // Where a line stands, and the sizes' form, are the map line's rules (the table above).
      {"update_pack0=" + packHash + " 300 0\r\n" + hash("100"), OptionalLine::kAbsent, 0},  // before the hash
  };
  for (const Row& row : rows) {
    const std::string text = entry + row.lines;
    ManifestReader reader(text);
    ManifestFileEntry read;
    FileDigest digest;
    MapLine mapLine;
    PackLine pack;
    ASSERT_TRUE(reader.ReadEntry(0, read)) << row.lines;
    reader.ReadEntryHash(0, digest);
    reader.ReadEntryMap(0, mapLine);
    EXPECT_EQ(reader.ReadEntryPack(0, pack), row.expected) << row.lines;
    if (row.expected != OptionalLine::kPresent) continue;
    EXPECT_EQ(pack.offset, row.offset);
    EXPECT_EQ(HexOf(pack.pack.sha256), packHash);
    EXPECT_EQ(PackValue(*ParsePackValue(PackValue(pack), 100)), PackValue(pack)) << "written as it is read";
  }
}

TEST(ManifestRemovalList, StandsDirectlyAfterTheLastEntrysLastLineAndHoldsExactlyItsCount) {
  namespace keys = manifest_key;
  const std::string hex(64, 'd');
  const std::string to = kHeader + "update_size=2\r\nupdate_name0=a\r\nupdate_from0=\r\nupdate_to0=\r\n" +
                         "update_name1=b\r\nupdate_from1=\r\nupdate_to1=\\s\r\n";
  const std::string hash = "update_hash1=" + std::string(64, 'f') + " 400000\r\n";
  const std::string map = "update_map1=.maps/m " + std::string(64, 'e') + " 7\r\n";
  const std::string gone = "update_gone0=\\\xCA\xFD\xBE\xDD\\old map.dat " + hex + " 12\r\n";
  struct Row {
    std::string lines;  // after entry 1's to line
    OptionalLine expected;
    std::size_t count;
  };
  const std::vector<Row> rows{
      {"update_removed=1\r\n" + gone, OptionalLine::kPresent, 1},
      {hash + "update_removed=1\r\n" + gone, OptionalLine::kPresent, 1},
      {hash + map + "update_removed=1\r\n" + gone, OptionalLine::kPresent, 1},
      {hash + "update_removed=2\r\n" + gone + "update_gone1=\\x " + hex + " 0\r\n", OptionalLine::kPresent, 2},
      {hash + "update_removed=0\r\n", OptionalLine::kPresent, 0},
      // Malformed: fewer lines than the count, a line out of its place or order, a count with a
      // sign, a leading zero or above the limit, a line without a path or size.
      {hash + "update_removed=2\r\n" + gone, OptionalLine::kMalformed, 0},
      {hash + "update_removed=1\r\nx\r\n" + gone, OptionalLine::kMalformed, 0},
      {hash + "update_removed=1\r\nupdate_gone1=\\x " + hex + " 0\r\n", OptionalLine::kMalformed, 0},
      {hash + "update_removed=+1\r\n" + gone, OptionalLine::kMalformed, 0},
      {hash + "update_removed=01\r\n" + gone, OptionalLine::kMalformed, 0},
      {hash + "update_removed=100001\r\n" + gone, OptionalLine::kMalformed, 0},
      {hash + "update_removed=1\r\nupdate_gone0=" + hex + " 12\r\n", OptionalLine::kMalformed, 0},
      {hash + "update_removed=1\r\nupdate_gone0=\\x " + hex + "\r\n", OptionalLine::kMalformed, 0},
      {hash + "update_removed=1\r\nupdate_gone0=\\x " + hex + " 12", OptionalLine::kMalformed, 0},
      // Anywhere else it is no removal list.
      {hash + "\r\nupdate_removed=1\r\n" + gone, OptionalLine::kAbsent, 0},
      {hash + "x update_removed=1\r\n" + gone, OptionalLine::kAbsent, 0},
  };
  for (const Row& row : rows) {
    const std::string text = to + row.lines;
    ManifestReader reader(text);
    ManifestFileEntry entry;
    std::vector<RemovalLine> lines;
    ASSERT_TRUE(reader.ReadEntry(0, entry));
    EXPECT_EQ(reader.ReadRemovals(lines), OptionalLine::kAbsent) << "only after the last entry: " << row.lines;
    ASSERT_TRUE(reader.ReadEntry(1, entry));
    EXPECT_EQ(reader.ReadRemovals(lines), row.expected) << row.lines;
    EXPECT_EQ(lines.size(), row.count) << row.lines;
    if (row.count == 0) continue;
    EXPECT_EQ(lines[0].path, "\\\xCA\xFD\xBE\xDD\\old map.dat") << "read from the right";
    EXPECT_EQ(lines[0].digest.size, 12);
    EXPECT_EQ(ParseRemovalValue(RemovalValue(lines[0]))->path, lines[0].path) << "written as it is read";
  }
  // The list stands after the first entry when it is the last: an entry after it moves it.
  const std::string moved =
      kHeader + "update_size=1\r\nupdate_name0=a\r\nupdate_from0=\r\nupdate_to0=\r\n" + "update_removed=1\r\n" + gone;
  ManifestReader reader(moved);
  ManifestFileEntry entry;
  std::vector<RemovalLine> lines;
  ASSERT_TRUE(reader.ReadEntry(0, entry));
  EXPECT_EQ(reader.ReadRemovals(lines), OptionalLine::kPresent);
}

TEST(ManifestRemovalList, APathMayNotLeaveTheFolderNorNameTheTargetTheUpdaterOrItsAsideFile) {
  struct Row {
    std::string path;
    bool safe;
  };
  const std::vector<Row> rows{
      {"\\\xCA\xFD\xBE\xDD\\\xBE\xC9\xB5\xD8\xCD\xBC.map", true},  // \数据\旧地图.map
      {"/plugins/old.dll", true},
      {"\\sub\\Ostravine.exe", true},
      {"\\x\x95\x5C.dat", true},  // a trail byte 0x5C is no separator
      {"plugins\\old.dll", false},
      {"..\\x", false},
      {"\\..\\x", false},
      {"\\a\\..\\..\\x", false},
      {"\\C:\\x", false},
      {"\\a.dat:stream", false},
      {"\\NUL.txt", false},
      {"\\sub\\", false},
      {"\\Ostravine.exe", false},
      {"/ostravine.EXE. ", false},
      {"\\Merovast.exe", false},
      {"\\.\\MEROVAST.exe.old", false},
  };
  for (const Row& row : rows) EXPECT_EQ(UnsafeRemovalReason(row.path).empty(), row.safe) << row.path;
}

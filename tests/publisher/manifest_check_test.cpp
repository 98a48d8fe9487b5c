#include "manifest_check.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crypto.hpp"

namespace {

const std::string kGood =
    "update_version=1,0,0,4\r\n"
    "update_filesize=10\r\n"
    "update_url=http://h/r\r\n"
    "update_size=1\r\n"
    "update_name0=Ostravine.exe\r\n"
    "update_from0=\r\n"
    "update_to0=\r\n";

std::string Problems(const std::string& manifest) {
  std::string all;
  for (const auto& problem : CheckManifest(manifest).problems) all += problem + "\n";
  return all;
}

}  // namespace

TEST(ManifestCheck, ListsEachProblemWithItsLine) {
  EXPECT_EQ(Problems(kGood), "");
  std::string lf = kGood;
  lf.erase(lf.find("\r\nupdate_size"), 1);
  EXPECT_NE(Problems(lf).find("line 3: ends with LF only"), std::string::npos);
  EXPECT_NE(Problems(kGood.substr(0, kGood.size() - 2)).find("line 7: the last line does not end with CR LF"),
            std::string::npos);
  const std::string swapped = "update_filesize=10\r\nupdate_version=1\r\nupdate_url=u\r\n";
  EXPECT_NE(Problems(swapped).find("line 1: update_filesize= stands before"), std::string::npos);
  std::string tab = kGood;
  tab.replace(tab.find("=1,0"), 1, "=\t");
  EXPECT_NE(Problems(tab).find("line 1: update_version= keeps a tab"), std::string::npos);
  std::string twice = kGood;
  twice.replace(twice.find("update_size=1"), 13, "update_size=2");
  EXPECT_NE(Problems(twice).find("update_name1= is missing"), std::string::npos);
  std::string unsafe = kGood;
  unsafe.replace(unsafe.find("update_to0="), 11, "update_to0=\\..");
  EXPECT_NE(Problems(unsafe).find("line 5: entry 0 is refused by the updater: to contains a \"..\" component"),
            std::string::npos);
  EXPECT_NE(Problems(kGood + std::string(5000, 'x')).find("the updater reads only the first 5000"), std::string::npos);
  std::string fewer = kGood;
  fewer.replace(fewer.find("update_size=1"), 13, "update_size=0");
  EXPECT_NE(Problems(fewer).find("update_size says 0 entries, but the manifest has 1"), std::string::npos);
}

TEST(ManifestCheck, APackLineIsHeldAgainstItsPackInTheStore) {
  namespace fs = std::filesystem;
  const fs::path webRoot = fs::path(::testing::TempDir()) / "manifest_check_packs";
  fs::remove_all(webRoot);
  const std::string pack = "hello world!";
  const std::string hex = HexOf(*Sha256Of(pack));
  fs::create_directories(webRoot / "o" / hex.substr(0, 2));
  std::ofstream(webRoot / "o" / hex.substr(0, 2) / hex, std::ios::binary) << pack;
  struct Row {
    std::string file;  // the entry's bytes, by its hash line
    std::string offset;
    std::string store;
    std::string problem;  // empty: none
  };
  const std::vector<Row> rows{
      {"world", "6", "update_store=http://h/o packs\r\n", ""},
      {"world", "5", "update_store=http://h/o packs\r\n", "its 5 bytes from 5 are not the file the hash line states"},
      {"world", "8", "update_store=http://h/o packs\r\n", "line 10: update_pack0= is malformed"},
      {"world", "6", "", "line 9: update_pack0= is malformed"},
  };
  for (const Row& row : rows) {
    const std::string manifest =
        "update_version=1,0,0,4\r\nupdate_filesize=10\r\nupdate_url=http://h/r\r\n" + row.store +
        "update_size=1\r\nupdate_name0=a.dat\r\nupdate_from0=\r\nupdate_to0=\r\nupdate_hash0=" +
        HexOf(*Sha256Of(row.file)) + " 5\r\nupdate_pack0=" + hex + " 12 " + row.offset + "\r\n";
    std::string all;
    for (const auto& problem : CheckManifest(manifest, {}, webRoot).problems) all += problem + "\n";
    if (row.problem.empty())
      EXPECT_EQ(all, "") << row.offset;
    else
      EXPECT_NE(all.find(row.problem), std::string::npos) << row.offset << row.store << all;
  }
  fs::remove_all(webRoot);
}

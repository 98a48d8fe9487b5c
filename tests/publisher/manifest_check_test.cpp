#include "manifest_check.hpp"

#include <gtest/gtest.h>

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

#include "manifest_writer.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "crypto.hpp"
#include "manifest_check.hpp"
#include "manifest_expiry.hpp"
#include "manifest/manifest_signature.hpp"
#include "signing_key.hpp"

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

std::string RefusalOf(const Release& release, const std::string& url = "http://h:8081/rel",
                      const SigningKey* key = nullptr) {
  try {
    WriteManifest(release, url, key);
  } catch (const PublishError& error) {
    return error.what();
  }
  return "";
}

// Each entry as the updater reads it, with its hash line's value when it has one.
std::vector<std::string> EntriesRead(const std::string& manifest) {
  ManifestReader reader(manifest);
  std::vector<std::string> entries;
  ManifestFileEntry entry;
  for (int i = 0; reader.ReadEntry(i, entry); ++i) {
    FileDigest digest;
    const bool hashed = reader.ReadEntryHash(i, digest) == OptionalLine::kPresent;
    entries.push_back(entry.name + "|" + entry.from + "|" + entry.to + (hashed ? " " + HashValue(digest) : ""));
  }
  return entries;
}

bool Verifies(const std::string& manifest, const PublicKey& key) {
  const auto found = FindManifestSignature(manifest);
  return found && VerifyP256Signature(found->signedText, found->signature, key);
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

TEST(ManifestWriter, HashLinesLeaveEveryEntryAsTheUpdaterReadItWithoutThem) {
  Release hashed = Sample();
  for (ReleaseFile& file : hashed.files) file.digest = FileDigest{{}, static_cast<std::int32_t>(file.name.size())};
  const std::vector<std::string> plain = EntriesRead(WriteManifest(Sample(), "http://h/r"));
  std::vector<std::string> expected;
  expected.reserve(plain.size());
  for (const std::string& e : plain) expected.push_back(e + " " + HashValue({{}, static_cast<int>(e.find('|'))}));
  EXPECT_EQ(EntriesRead(WriteManifest(hashed, "http://h/r")), expected);
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
  // The signature line counts: 4950 bytes fit unsigned, not signed.
  Release nearlyFull{"1", 1, {{"", "Ostravine.exe", FileDigest{}}, {"", "x", FileDigest{}}}};
  nearlyFull.files.back().name.append(4950 - WriteManifest(nearlyFull, "http://h:8081/rel").size(), 'x');
  EXPECT_EQ(RefusalOf(nearlyFull), "");
  const SigningKey key = SigningKey::Generate();
  EXPECT_EQ(RefusalOf(nearlyFull, "http://h:8081/rel", &key),
            "the manifest would be 5057 bytes; the updater reads at most 5000");
  EXPECT_NE(RefusalOf(Sample(), "http://h:8081/rel", &key).find("a signed manifest needs its hash line"),
            std::string::npos);
  // A key build compares versions as numbers; without a key any version goes.
  for (const char* version : {"1,0,0,4 beta", "1,0,0,4,1", "1.0,0", "65536"}) {
    const Release odd{version, 1, {{"", "Ostravine.exe", FileDigest{}}}};
    EXPECT_NE(RefusalOf(odd, "http://h:8081/rel", &key).find("does not read as 1 to 4 numbers"), std::string::npos)
        << version;
    EXPECT_EQ(RefusalOf(odd), "") << version;
  }
}

TEST(ManifestExpiry, ItsLineFollowsTheUrlLineAndARenewalChangesNothingElse) {
  constexpr UtcSeconds k2099 = 4070908800, k2000 = 946684800;
  const SigningKey key = SigningKey::Generate();
  const Release release{"1,0,0,4", 16384, {{"", "Ostravine.exe", FileDigest{{1, 2}, 16384}}, {"d", "a", FileDigest{}}}};
  const std::string plain = WriteManifest(release, "http://h:8081/r", &key);
  const std::string expiring = WriteManifest(release, "http://h:8081/r", &key, k2099);
  const auto body = [](const std::string& manifest) { return manifest.substr(0, manifest.rfind("update_signature=")); };
  std::string expected = body(plain);
  expected.insert(expected.find("update_size="), "update_expires=2099-01-01T00:00:00Z\r\n");
  EXPECT_EQ(body(expiring), expected);
  const ManifestCheck check = CheckManifest(expiring, PublicKeys{key.Public()});
  EXPECT_TRUE(check.problems.empty()) << check.problems.front();
  EXPECT_EQ(check.expiry, OptionalLine::kPresent);
  EXPECT_EQ(check.expires, k2099);

  // The line replaced, or added after the URL line, and the whole signed again.
  std::string renewedBody = expected;
  renewedBody.replace(renewedBody.find("2099-01-01"), 10, "2000-01-01");
  const std::string renewed = RenewManifest(expiring, key, k2000);
  EXPECT_EQ(body(renewed), renewedBody);
  EXPECT_TRUE(Verifies(renewed, key.Public()));
  EXPECT_EQ(body(RenewManifest(plain, key, k2000)), renewedBody);
  EXPECT_EQ(body(RenewManifest(renewed, key, k2099)), expected) << "a passed expiry is renewed too";

  // Refused: what a key build refuses, and a renewal that no longer fits.
  const auto refusal = [&key](const std::string& manifest, const SigningKey& signer) {
    try {
      RenewManifest(manifest, signer, k2099);
    } catch (const PublishError& error) {
      return std::string(error.what());
    }
    return std::string();
  };
  const auto signedBy = [&key](const std::string& text) { return text + SignatureLine(key.Sign(text)); };
  std::string malformed = body(plain), oddVersion = body(plain);
  malformed.insert(malformed.find("update_size="), "update_expires=2099-01-01\r\n");
  oddVersion.replace(oddVersion.find("1,0,0,4"), 7, "1,0,0,4b");
  const std::string filler(kManifestLimit - body(plain).size() - SignatureLine(Signature{}).size() - 2, 'x');
  const std::vector<std::pair<std::string, std::string>> rows{
      {body(plain), "not signed"},
      {plain + "\r\n", "not signed"},
      {signedBy(malformed), "update_expires= is malformed"},
      {signedBy(oddVersion), "update_version= does not read as numbers"},
      {signedBy(body(plain) + filler + "\r\n"), "the renewed manifest would be 5037 bytes"},
  };
  for (const auto& [manifest, why] : rows) EXPECT_NE(refusal(manifest, key).find(why), std::string::npos) << why;
  EXPECT_NE(refusal(plain, SigningKey::Generate()).find("the signature does not match"), std::string::npos);
  EXPECT_EQ(refusal(signedBy(body(plain) + filler.substr(37) + "\r\n"), key), "") << "exactly 5000 bytes";
}

TEST(ManifestSigning, OnlyTheSignedBytesVerifyAndOnlyWithTheSigningKey) {
  const SigningKey key = SigningKey::Load(KEYS_DIR "/test-private.pem");
  std::ifstream in(KEYS_DIR "/test-public.txt");
  const auto publicKey = ParsePublicKey(std::string(std::istreambuf_iterator<char>(in), {}).substr(0, 128));
  ASSERT_EQ(publicKey, key.Public()) << "the committed pair belongs together";
  const Release release{"1,0,0,4", 16384, {{"", "Ostravine.exe", FileDigest{{1, 2}, 16384}}, {"d", "a", FileDigest{}}}};
  const std::string manifest = WriteManifest(release, "http://h:8081/r", &key);
  ASSERT_TRUE(Verifies(manifest, *publicKey));

  for (std::size_t i = 0; i < manifest.size(); ++i) {
    std::string changed = manifest;
    changed[i] ^= 0x01;
    EXPECT_FALSE(Verifies(changed, *publicKey)) << "byte " << i << " of " << manifest;
  }
  for (const char* after : {"\r\n", "x"}) EXPECT_FALSE(Verifies(manifest + after, *publicKey)) << after;
  // The same 64 bytes with a padding bit set: the character before "==\r\n" is one of AQgw, the next
  // one in the alphabet sets its lowest bit.
  std::string padded = manifest;
  EXPECT_FALSE(
      Verifies(padded.replace(padded.size() - 5, 1, 1, static_cast<char>(padded[padded.size() - 5] + 1)), *publicKey));

  const SigningKey other = SigningKey::Generate();
  const std::string unsignedText = manifest.substr(0, manifest.rfind("update_signature="));
  const std::string signedByOther = unsignedText + SignatureLine(other.Sign(unsignedText));
  EXPECT_TRUE(Verifies(signedByOther, other.Public()));
  EXPECT_FALSE(Verifies(signedByOther, *publicKey));
}

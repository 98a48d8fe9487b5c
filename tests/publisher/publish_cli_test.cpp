// merovast-publish as a publisher runs it: release folders on disk with a real 32-bit target,
// judged by the manifest bytes written, the exit status and the messages.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "crypto.hpp"
#include "file_digest.hpp"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUrl = "http://127.0.0.1:8081/release";
constexpr const char* kBase = "http://127.0.0.1:8081";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every file and folder below `root` ("name/" for a folder) with its bytes and mode.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = entry.path().lexically_relative(root).string();
    char mode[8];
    (void)std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(entry.status().permissions()) & 0777);
    tree[entry.is_directory() ? path + "/" : path] =
        mode + std::string(" ") + (entry.is_directory() ? "" : ReadFile(entry.path()));
  }
  return tree;
}

std::string Quoted(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// A fresh folder per test, holding the releases, the manifests and the tool's output.
class PublishCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("publish_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Run(const std::vector<std::string>& args) const {
    // A umask that would keep the web server's workers out of whatever the tool creates.
    std::string command = "umask 077 && " + Quoted(PUBLISH_TOOL);
    for (const std::string& arg : args) command += " " + Quoted(arg);
    command += " >" + Quoted(dir_ / "stdout") + " 2>" + Quoted(dir_ / "stderr");
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "stdout"), ReadFile(dir_ / "stderr")};
  }

  // A release folder with `target` as its Ostravine.exe (none when empty) and the given files.
  fs::path Release(const std::string& name, const std::string& target,
                   const std::map<std::string, std::string>& files) const {
    fs::path root = dir_ / name;
    fs::create_directories(root);
    if (!target.empty()) fs::copy_file(fs::path(TARGETS_DIR) / target, root / "Ostravine.exe");
    for (const auto& [path, bytes] : files) WriteFile(root / path, bytes);
    return root;
  }

  fs::path Sample(const std::string& name) const {
    return Release(name, "target-zh.exe",
                   {{"readme.txt", "Ostravine 1.0.0.4\r\n"},
                    {"data/items.dat", std::string(3000, '\x7f')},
                    {"sound/ding.wav", "RIFF"},
                    {"data/maps/west.map", "west"},
                    {"data/maps/east.map", "east"}});
  }

  fs::path dir_;
};

// "<sha256> <size>" of bytes a release ships.
std::string Published(const std::string& bytes) {
  return HashValue({*Sha256Of(bytes), static_cast<std::int32_t>(bytes.size())});
}

std::string Golden(const std::string& name) { return ReadFile(fs::path(GOLDEN_DIR) / name); }

}  // namespace

TEST_F(PublishCli, WritesTheGoldenManifestOfAReleaseFolder) {
  const fs::path output = dir_ / "update.htm";
  const Outcome written = Run({"manifest", Sample("release").string(), kUrl, output.string(), "--no-hashes"});
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out + written.err, "");
  EXPECT_EQ(ReadFile(output), Golden("release.htm"));

  const Outcome printed = Run({"manifest", (dir_ / "release").string(), kUrl, "--no-hashes"});
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(printed.out, Golden("release.htm"));

  // Every character a name may use stays as it is, and three folder levels are created in turn.
  const fs::path deep = Release("deep", "target-zh.exe",
                                {{"Zeta.txt", "z"},
                                 {"alpha.txt", "a"},
                                 {"notes(v1.2)_final~+,;=@!$&'.txt", "n"},
                                 {"a/1.dat", "1"},
                                 {"a/b/2.dat", "2"},
                                 {"a/b/c/3.dat", "3"}});
  const Outcome punctuated =
      Run({"manifest", deep.string(), "http://updates.example.com:8081/games/r2/", "--no-hashes"});
  EXPECT_EQ(punctuated.status, 0) << punctuated.err;
  EXPECT_EQ(punctuated.out, Golden("punctuation-and-depth.htm"));
}

TEST_F(PublishCli, CheckSaysWhereEachFileOfAGoodManifestGoes) {
  const Outcome checked = Run({"check", (fs::path(GOLDEN_DIR) / "release.htm").string()});
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(checked.err, "");
  EXPECT_EQ(checked.out,
            "update_version=1,0,0,4\n"
            "update_filesize=16384\n"
            "update_url=http://127.0.0.1:8081/release\n"
            "update_size=6\n"
            "http://127.0.0.1:8081/release/readme.txt -> <install>\\readme.txt\n"
            "http://127.0.0.1:8081/release/data/items.dat -> <install>\\data\\items.dat\n"
            "http://127.0.0.1:8081/release/sound/ding.wav -> <install>\\sound\\ding.wav\n"
            "http://127.0.0.1:8081/release/data/maps/east.map -> <install>\\data\\maps\\east.map\n"
            "http://127.0.0.1:8081/release/data/maps/west.map -> <install>\\data\\maps\\west.map\n"
            "http://127.0.0.1:8081/release/Ostravine.exe -> <install>\\Ostravine.exe\n"
            "480 of 5000 bytes used\n");
}

TEST_F(PublishCli, CheckNamesEveryProblemOfABadManifestWithItsLine) {
  const fs::path manifest = dir_ / "bad.htm";
  WriteFile(manifest,
            "update_version=1,0,0,4\r\n"
            "update_filesize=16384\r\n"
            "update_url=http://127.0.0.1:8081/release\r\n"
            "update_size=3\r\n"
            "update_name0=items.dat\r\n"
            "update_from0=/data\r\n"
            "update_to0=\\..\\data\r\n"
            "update_name1=readme.txt\n"
            "update_from1=\r\n"
            "update_to1=\r\n");
  const Outcome checked = Run({"check", manifest.string()});
  EXPECT_EQ(checked.status, 1);
  EXPECT_EQ(checked.out,
            "update_version=1,0,0,4\n"
            "update_filesize=16384\n"
            "update_url=http://127.0.0.1:8081/release\n"
            "update_size=3\n"
            "http://127.0.0.1:8081/release/data/items.dat -> <install>\\..\\data\\items.dat\n");
  const std::string file = manifest.string();
  EXPECT_EQ(
      checked.err,
      file + ": line 8: ends with LF only, not CR LF\n" + file +
          ": line 5: entry 0 is refused by the updater: to contains a \"..\" component\n" + file +
          ": line 9: update_from1= stands before the key it must follow, where the updater does not look for it\n" +
          file + ": update_size says 3 entries, but the manifest has 2 (update_name0= to update_name1=)\n");

  const Outcome missing = Run({"check", (dir_ / "none.htm").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "merovast-publish: " + (dir_ / "none.htm").string() + ": cannot be read\n");
}

TEST_F(PublishCli, KeygenMakesAKeyOnceWhosePrintedPublicKeyChecksWhatManifestSigned) {
  const std::string key = (dir_ / "publisher.pem").string(), at = dir_.string() + "/";
  const Outcome made = Run({"keygen", key});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.out.find_first_not_of("0123456789abcdef"), 128u);
  EXPECT_EQ(fs::status(key).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const std::string pem = ReadFile(key);
  const Outcome again = Run({"keygen", key});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "merovast-publish: " + key + ": already exists; keygen never writes over a file\n");
  EXPECT_EQ(ReadFile(key), pem);

  const std::string release = Sample("release").string(), changed = Sample("changed").string();
  ASSERT_EQ(Run({"manifest", "--key", key, release, kUrl, at + "signed.htm"}).status, 0);
  ASSERT_EQ(Run({"manifest", release, kUrl, at + "hashed.htm"}).status, 0);
  ASSERT_EQ(Run({"manifest", release, kUrl, at + "plain.htm", "--no-hashes"}).status, 0);
  WriteFile(at + "after.htm", ReadFile(at + "signed.htm") + "\r\n");
  std::string malformed = ReadFile(at + "hashed.htm");
  WriteFile(at + "malformed.htm", malformed.replace(malformed.find("update_hash2=") + 13, 1, "A"));
  WriteFile(changed + "/sound/ding.wav", "RIFX");
  WriteFile(changed + "/readme.txt", "Ostravine 1.0.0.5\r\n\r\n");
  fs::remove(changed + "/data/maps/east.map");

  const std::string publicKey = made.out.substr(0, 128);
  const std::string otherKey = ReadFile(fs::path(KEYS_DIR) / "test-public.txt").substr(0, 128);
  // A manifest, the check's options and the problems it names after the manifest's path (none: it passes).
  const std::vector<std::tuple<std::string, std::vector<std::string>, std::vector<std::string>>> cases{
      {"signed.htm", {"--public-key", publicKey, "--release", release}, {}},
      {"signed.htm", {"--public-key", otherKey}, {": line 29: the signature does not match the public key\n"}},
      {"after.htm", {"--public-key", publicKey}, {": line 29: not signed: update_signature= must be the last line"}},
      {"hashed.htm", {"--public-key", publicKey}, {": not signed: there is no update_signature= line\n"}},
      {"plain.htm", {"--public-key", publicKey}, {": line 20: entry 5 has no hash line, which an updater with a"}},
      {"malformed.htm", {}, {": line 16: update_hash2= is malformed, so the updater stops before this entry"}},
      {"hashed.htm",
       {"--release", changed},
       {": entry 0: " + changed + "/readme.txt: 21 bytes, its hash line says 19\n",
        ": entry 2: " + changed + "/sound/ding.wav: its SHA-256 is not the one its hash line states\n",
        ": entry 3: " + changed + "/data/maps/east.map: not a file in the release folder\n"}},
  };
  for (const auto& [name, options, problems] : cases) {
    std::vector<std::string> args{"check", at + name};
    args.insert(args.end(), options.begin(), options.end());
    const Outcome checked = Run(args);
    EXPECT_EQ(checked.status, problems.empty() ? 0 : 1) << name << checked.err;
    EXPECT_TRUE(
        checked.out.ends_with("Ostravine.exe\n" + std::to_string(fs::file_size(at + name)) + " of 5000 bytes used\n"))
        << checked.out;
    for (const std::string& problem : problems)
      EXPECT_NE(checked.err.find((at + name).append(problem)), std::string::npos) << checked.err;
  }
}

TEST_F(PublishCli, RefusesAReleaseTheUpdaterCannotInstallAndKeepsTheServedManifest) {
  struct Case {
    std::string target;
    std::map<std::string, std::string> files;
    std::string message;
  };
  const std::string breaks = "': # ? % \" < > | * : \\ break a URL path or a Windows name";
  const std::string oneName = "\" are one name to Windows, which ignores case: rename one of them";
  const std::vector<Case> cases{
      {"target-zh.exe",
       {{"data/maps/east.map", "e"}},
       "data/: this folder has subfolders but no file of its own, so the updater cannot create data/maps/; put a "
       "file in data/"},
      {"target-zh.exe",
       {{"con.txt", "c"}},
       "con.txt: the updater refuses this entry: name names a reserved device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)"},
      // 乗 is GBK 81 5C: the updater splits the GBK bytes at that backslash.
      {"target-zh.exe", {{"乗CON.txt", "c"}}, "乗CON.txt: the updater refuses this entry: name names a reserved"},
      {"target-zh.exe", {{"地图/a#b.map", "e"}}, "地图/a#b.map: \"a#b.map\" holds '#" + breaks},
      {"target-zh.exe", {{"地图/q?.map", "e"}}, "地图/q?.map: \"q?.map\" holds '?" + breaks},
      {"target-zh.exe",
       {{"地图/ก.map", "e"}},
       "地图/ก.map: \"ก.map\" holds U+0E01, which code page 936 (the updater's file names) cannot encode"},
      {"target-zh.exe", {{"tab\t.txt", "t"}}, "tab\t.txt: \"tab\t.txt\" holds a control character"},
      {"target-zh.exe",
       {{"地图 /east.map", "e"}},
       "地图 /east.map: \"地图 \" starts or ends with a space, which the updater would drop"},
      {"target-zh.exe", {{"v1./a.txt", "a"}}, "v1./a.txt: \"v1.\" ends with a dot, which Windows drops"},
      {"target-zh.exe", {{".htaccess", "a"}}, ".htaccess: \".htaccess\" starts with a dot: the server does not serve"},
      {"target-zh.exe", {{"Ⅰ.txt", "1"}, {"ⅰ.txt", "i"}}, "ⅰ.txt: \"ⅰ.txt\" and \"Ⅰ.txt" + oneName},
      {"target-zh.exe", {{"Ａ.txt", "1"}, {"ａ.txt", "i"}}, "ａ.txt: \"ａ.txt\" and \"Ａ.txt" + oneName},
      {"target-zh.exe", {{"Σ.txt", "1"}, {"σ.txt", "i"}}, "σ.txt: \"σ.txt\" and \"Σ.txt" + oneName},
      {"target-zh.exe", {{"Карта/a.map", "a"}, {"карта/b.map", "b"}}, "карта: \"карта\" and \"Карта" + oneName},
      {"target-zh.exe", {{"Data", "file"}, {"data/x.dat", "x"}}, "data: \"data\" and \"Data" + oneName},
      {"", {{"bin/Ostravine.exe", "MZ"}}, "Ostravine.exe: not in "},
      {"target-en.exe",
       {},
       "Ostravine.exe: has no FileVersion in a Chinese (PRC) Unicode version table (080404b0), so the updater could "
       "never "
       "find it current"},
      {"",
       {{"Ostravine.exe", "not a program"}},
       "Ostravine.exe: has no FileVersion in a Chinese (PRC) Unicode version table"},
      {"target-zh.exe",
       {{"merovast.EXE", "MZ"}},
       "merovast.EXE: the updater cannot replace its own running file without --key: only an updater "
       "built with a key replaces itself"},
      {"target-zh.exe",
       {{"MEROVAST.exe.old", "x"}},
       "MEROVAST.exe.old: the updater refuses this entry: names the updater's aside file"},
  };
  const fs::path output = dir_ / "update.htm";
  const std::string served = "update_version=1,0,0,3\r\n";
  // A web root serving 1,0,0,3, which stage must leave as it was.
  const fs::path webRoot = Release("www", "", {{"update_go/update.htm", served}, {"v/1,0,0,3/Ostravine.exe", "3"}});
  const auto webRootNow = Tree(webRoot);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    WriteFile(output, served);
    const fs::path release = Release("r" + std::to_string(i), c.target, c.files);
    const Outcome refused = Run({"manifest", release.string(), kUrl, output.string()});
    EXPECT_EQ(refused.status, 1) << c.message;
    EXPECT_EQ(refused.err.rfind("merovast-publish: " + c.message, 0), 0u) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(ReadFile(output), served) << c.message;
    const Outcome notStaged = Run({"stage", release.string(), webRoot.string(), kBase});
    EXPECT_EQ(notStaged.status, 1) << c.message;
    EXPECT_EQ(notStaged.err.rfind("merovast-publish: " + c.message, 0), 0u) << notStaged.err;
    EXPECT_EQ(Tree(webRoot), webRootNow) << c.message;
  }

  // Links are refused, a linked folder included, whose files would otherwise be left out.
  const fs::path linked = Release("linked", "target-zh.exe", {{"real.txt", "r"}});
  fs::create_symlink("real.txt", linked / "alias.txt");
  const Outcome symlink = Run({"manifest", linked.string(), kUrl});
  EXPECT_EQ(symlink.status, 1);
  EXPECT_EQ(symlink.err, "merovast-publish: alias.txt: only regular files and folders can be published\n");
  const fs::path linkedFolder = Release("linked-folder", "target-zh.exe", {{"maps/east.map", "e"}});
  fs::create_directory_symlink("maps", linkedFolder / "data");
  const Outcome folderLink = Run({"manifest", linkedFolder.string(), kUrl});
  EXPECT_EQ(folderLink.status, 1);
  EXPECT_EQ(folderLink.err, "merovast-publish: data: only regular files and folders can be published\n");

  const fs::path huge = Release("huge", "target-zh.exe", {{"huge.dat", ""}});
  fs::resize_file(huge / "huge.dat", 2147483648u);
  const Outcome tooLarge = Run({"manifest", huge.string(), kUrl});
  EXPECT_EQ(tooLarge.status, 1);
  EXPECT_EQ(tooLarge.err, "merovast-publish: huge.dat: larger than the 2147483647 bytes a hash line can state\n");

  const Outcome noFolder = Run({"manifest", (dir_ / "none").string(), kUrl});
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_EQ(noFolder.err, "merovast-publish: " + (dir_ / "none").string() + ": not a folder\n");

  const Outcome unwritable =
      Run({"manifest", Sample("sample").string(), kUrl, (dir_ / "none" / "update.htm").string()});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err, "merovast-publish: " + (dir_ / "none" / "update.htm").string() + ": cannot be written\n");
}

// A staged web root as nginx serves it: the version folder under GBK byte names, files 0644 and
// folders 0755 although the tool ran with umask 077, the manifest pointing at it.
TEST_F(PublishCli, StagesTheReleaseUnderItsServedNamesThenTheManifest) {
  const fs::path release = Release("release", "target-zh.exe", {{"说明 1.txt", "readme"}, {"地图/东.map", "east"}});
  const fs::path www = dir_ / "www";
  fs::create_directories(www / ".stage-old/x");  // left by runs that were cut short
  WriteFile(www / "update_go/.update.htm-old", "update_version=1,0,0,3\r\n");
  fs::permissions(www / "update_go", fs::perms(0755));
  const Outcome staged = Run({"stage", release.string(), www.string(), kBase});
  ASSERT_EQ(staged.status, 0) << staged.err;
  const std::string manifest = Run({"manifest", release.string(), std::string(kBase) + "/v/1,0,0,4"}).out;
  const std::map<std::string, std::string> expected{
      {"update_go/", "755 "},
      {"update_go/update.htm", "644 " + manifest},
      {"v/", "755 "},
      {"v/1,0,0,4/", "755 "},
      {"v/1,0,0,4/Ostravine.exe", "644 " + ReadFile(release / "Ostravine.exe")},
      {"v/1,0,0,4/\xCB\xB5\xC3\xF7 1.txt", "644 readme"},
      {"v/1,0,0,4/\xB5\xD8\xCD\xBC/", "755 "},
      {"v/1,0,0,4/\xB5\xD8\xCD\xBC/\xB6\xAB.map", "644 east"},
      // The ledger of every file published, for the removal lines of later releases.
      {".published-files", "644 \\\xCB\xB5\xC3\xF7 1.txt " + Published("readme") + "\n\\Ostravine.exe " +
                               Published(ReadFile(release / "Ostravine.exe")) + "\n\\\xB5\xD8\xCD\xBC\\\xB6\xAB.map " +
                               Published("east") + "\n"}};
  EXPECT_EQ(Tree(www), expected);
  EXPECT_EQ(staged.out, "removed the unfinished staging folder " + (www / ".stage-old").string() +
                            "\ncopied 3 files (16394 bytes) of 1,0,0,4 to " + (www / "v/1,0,0,4").string() +
                            "\nwrote " + (www / "update_go/update.htm").string() +
                            " (update_url=http://127.0.0.1:8081/v/1,0,0,4): " + std::to_string(manifest.size()) +
                            " of the 5000 bytes the updater reads\n");

  // The same bytes again: nothing copied, the manifest written anew.
  fs::remove(www / "update_go/update.htm");
  const Outcome again = Run({"stage", release.string(), www.string(), kBase});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("already holds this release byte for byte: nothing copied"), std::string::npos);
  EXPECT_EQ(Tree(www), expected);

  struct Refusal {
    std::string served;  // update_version of the manifest served before
    std::vector<std::string> options;
    int status;
    std::string message;
  };
  const std::vector<Refusal> refusals{
      {"1,0,0,4", {"--key", "k.pem"}, 1, "k.pem: cannot be read"},
      {"1,0,0,10", {}, 1, "1,0,0,4 is not newer than the served 1,0,0,10: updaters never go back"},
      {"2.0 beta", {}, 1, "cannot tell whether 1,0,0,4 is newer than the served 2.0 beta; give --allow-downgrade"},
      {"1,0,0,4", {"--since", (dir_ / "none").string()}, 1, (dir_ / "none").string() + ": not a folder"},
      {"1.0.0.10", {}, 1, "1,0,0,4 is not newer than the served 1.0.0.10: updaters never go back"},
      {"1,0,0,10",
       {"--allow-downgrade", "--key", KEYS_DIR "/test-private.pem"},
       1,
       "--allow-downgrade with --key: an updater with a built-in key refuses a release older"},
      {"1,0,0,3", {"--expires-in", "0"}, 1, "--expires-in 0: give a whole number of days from 1 to 36500"},
      {"1,0,0,3", {"--expires-at", "2027-02-29T00:00:00Z"}, 1, "--expires-at 2027-02-29T00:00:00Z: give a UTC time"},
      {"1,0,0,3", {"--expires-in", "1", "--expires-at", "2099-01-01T00:00:00Z"}, 2, "usage: "},
  };
  for (const Refusal& r : refusals) {
    WriteFile(www / "update_go/update.htm", "update_version=" + r.served + "\r\nupdate_filesize=1\r\nupdate_url=u\r\n");
    const auto before = Tree(www);
    std::vector<std::string> args{"stage", release.string(), www.string(), kBase};
    args.insert(args.end(), r.options.begin(), r.options.end());
    const Outcome refused = Run(args);
    EXPECT_EQ(refused.status, r.status) << r.message;
    EXPECT_EQ(refused.err.rfind((r.status == 1 ? "merovast-publish: " : "") + r.message, 0), 0u) << refused.err;
    EXPECT_EQ(Tree(www), before) << r.message;
  }
  const Outcome downgraded = Run({"stage", release.string(), www.string(), kBase, "--allow-downgrade"});
  EXPECT_EQ(downgraded.status, 0) << downgraded.err;
  EXPECT_EQ(Tree(www), expected);

  // A version folder never changes.
  WriteFile(release / "地图/东.map", "east, changed");
  const Outcome changed = Run({"stage", release.string(), www.string(), kBase});
  EXPECT_EQ(changed.status, 1);
  EXPECT_EQ(changed.err, "merovast-publish: " + (www / "v/1,0,0,4").string() +
                             ": already holds other bytes of this version; a version folder never changes, so give "
                             "the release a new FileVersion\n");
  EXPECT_EQ(Tree(www), expected);
}

// An expiring signed manifest: check shows the expiry, plan and check refuse it once passed as a
// key build does, and renew gives it a new expiry in place.
TEST_F(PublishCli, ExpiringManifestsAreCheckedPlannedAndRenewed) {
  const std::string key = KEYS_DIR "/test-private.pem", at = dir_.string() + "/";
  const std::string publicKey = ReadFile(fs::path(KEYS_DIR) / "test-public.txt").substr(0, 128);
  const std::string release = Sample("release").string();
  const fs::path install = dir_ / "install";
  fs::create_directories(install);
  fs::copy_file(fs::path(TARGETS_DIR) / "target-zh.exe", install / "Ostravine.exe");

  const Outcome lasting = Run({"manifest", release, kUrl, at + "m.htm", "--key", key, "--expires-in", "30"});
  ASSERT_EQ(lasting.status, 0) << lasting.err;
  EXPECT_EQ(lasting.err, "");
  const Outcome fresh = Run({"check", at + "m.htm", "--public-key", publicKey});
  EXPECT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_NE(fresh.out.find("/release\nupdate_expires=20"), std::string::npos) << fresh.out;
  EXPECT_NE(fresh.out.find(" days left; an updater with a built-in key refuses the manifest from then on)\n"),
            std::string::npos)
      << fresh.out;

  const Outcome past = Run({"renew", at + "m.htm", "--key", key, "--expires-at", "2000-01-01T00:00:00Z"});
  ASSERT_EQ(past.status, 0) << past.err;
  EXPECT_EQ(past.err,
            "merovast-publish: warning: the manifest expires at 2000-01-01T00:00:00Z, which has passed: an updater "
            "with a built-in key refuses it\n");
  EXPECT_EQ(fs::status(at + "m.htm").permissions(), fs::perms(0644));
  const Outcome checked = Run({"check", at + "m.htm", "--public-key", publicKey});
  EXPECT_EQ(checked.status, 1);
  EXPECT_NE(checked.out.find("update_expires=2000-01-01T00:00:00Z (passed;"), std::string::npos) << checked.out;
  EXPECT_EQ(checked.err, at + "m.htm: update_expires=2000-01-01T00:00:00Z has passed: an updater with a built-in key "
                              "refuses the manifest; renew it\n");
  EXPECT_EQ(Run({"check", at + "m.htm"}).status, 0) << "an updater without a key ignores the line";
  const Outcome planned = Run({"plan", at + "m.htm", install.string(), "--public-key", publicKey});
  EXPECT_EQ(planned.status, 1);
  EXPECT_NE(planned.out.find("\nstops: the manifest expired at 2000-01-01T00:00:00Z\n"), std::string::npos)
      << planned.out;
  EXPECT_EQ(Run({"plan", at + "m.htm", install.string()}).status, 0);

  // Renewed, it is carried out again; refused renewals leave the file as it was.
  const Outcome renewed = Run({"renew", at + "m.htm", "--key", key, "--expires-in", "90"});
  ASSERT_EQ(renewed.status, 0) << renewed.err;
  EXPECT_EQ(renewed.out.rfind("renewed " + at + "m.htm: expires at ", 0), 0u) << renewed.out;
  EXPECT_EQ(Run({"check", at + "m.htm", "--public-key", publicKey}).status, 0);
  EXPECT_EQ(Run({"plan", at + "m.htm", install.string(), "--public-key", publicKey}).status, 0);
  const std::string good = ReadFile(at + "m.htm");
  ASSERT_EQ(Run({"keygen", at + "other.pem"}).status, 0);
  ASSERT_EQ(Run({"manifest", release, kUrl, at + "unsigned.htm"}).status, 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals{
      {{"renew", at + "m.htm", "--key", at + "other.pem", "--expires-in", "9"},
       "merovast-publish: the manifest is not renewed, since an updater with the key refuses it: line 30: the "
       "signature does not match the public key\n"},
      {{"renew", at + "unsigned.htm", "--key", key, "--expires-in", "9"},
       "merovast-publish: the manifest is not renewed, since an updater with the key refuses it: not signed: there "
       "is no update_signature= line\n"},
      {{"renew", at + "m.htm", "--key", key}, "merovast-publish: renew needs --key and --expires-in or --expires-at\n"},
  };
  for (const auto& [args, message] : refusals) {
    const Outcome refused = Run(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, message);
  }
  EXPECT_EQ(ReadFile(at + "m.htm"), good);

  // A manifest that names a release index is renewed with its index line as it was.
  ASSERT_EQ(Run({"manifest", release, kUrl, at + "i.htm", "--key", key, "--index"}).status, 0);
  const std::string indexed = ReadFile(at + "i.htm");
  const std::size_t indexLine = indexed.find("update_size=1\r\nupdate_index=");
  ASSERT_NE(indexLine, std::string::npos) << indexed;
  const Outcome renewedIndex = Run({"renew", at + "i.htm", "--key", key, "--expires-in", "30"});
  EXPECT_EQ(renewedIndex.status, 0) << renewedIndex.err;
  const std::string afterRenew = ReadFile(at + "i.htm");
  EXPECT_NE(afterRenew.find("update_expires="), std::string::npos);
  EXPECT_NE(afterRenew.find(indexed.substr(indexLine, indexed.find("update_signature=") - indexLine)),
            std::string::npos)
      << "the index line and what follows it are kept byte for byte";
}

// check --release reads a whole folder one way: as the release folder (UTF-8 names) or as the
// version folder stage wrote (GBK bytes; 图 is CD BC there, which is valid UTF-8 as well).
TEST_F(PublishCli, ChecksAReleaseFolderOrAStagedVersionFolderUnderOneReading) {
  const fs::path release =
      Release("release", "target-zh.exe", {{"说明 1.txt", "readme"}, {"地图/东 区.map", "east"}, {"图", "map"}});
  const fs::path www = dir_ / "www", staged = www / "v/1,0,0,4";
  ASSERT_EQ(Run({"stage", release.string(), www.string(), kBase}).status, 0);
  ASSERT_TRUE(fs::is_regular_file(staged / "\xCD\xBC"));
  const fs::path ascii = Sample("ascii");
  ASSERT_EQ(Run({"manifest", ascii.string(), kUrl, (dir_ / "ascii.htm").string()}).status, 0);
  const fs::path partRelease = dir_ / "part-release", partStaged = dir_ / "part-staged";
  fs::copy(release, partRelease, fs::copy_options::recursive);
  fs::copy(staged, partStaged, fs::copy_options::recursive);
  fs::remove(partRelease / "图");
  fs::remove(partStaged / "\xCB\xB5\xC3\xF7 1.txt");

  const std::string served = (www / "update_go/update.htm").string();
  const std::string asRelease = "read as a release folder (UTF-8 names, as stage reads them)\n";
  const std::string asStaged = "read as a staged version folder (the code page 936 names stage writes)\n";
  // The manifest, the folder, what check says of its reading, and the problem it names (none: it passes).
  const std::vector<std::tuple<std::string, fs::path, std::string, std::string>> cases{
      {served, release, asRelease, ""},
      {served, staged, asStaged, ""},
      {served, partRelease, asRelease, "entry 0: " + partRelease.string() + "/图: not a file in the release folder\n"},
      {served, partStaged, asStaged,
       "entry 1: " + partStaged.string() + "/\xCB\xB5\xC3\xF7 1.txt: not a file in the release folder\n"},
      {(dir_ / "ascii.htm").string(), ascii,
       "every name is ASCII: read alike as a release folder and as a staged version folder\n", ""},
  };
  for (const auto& [manifest, folder, reading, problem] : cases) {
    const Outcome checked = Run({"check", manifest, "--release", folder.string()});
    EXPECT_EQ(checked.status, problem.empty() ? 0 : 1) << folder << checked.err;
    EXPECT_NE(checked.out.find(folder.string().append(": ").append(reading)), std::string::npos) << checked.out;
    EXPECT_EQ(checked.err, problem.empty() ? "" : std::string(manifest).append(": ").append(problem)) << folder;
  }
}

// A release whose entries do not fit in the manifest goes to an index beside its version folder,
// which the manifest names by hash and which check and plan follow through the web root.
TEST_F(PublishCli, StagesABigReleaseWithAnIndexThatCheckAndPlanFollow) {
  std::map<std::string, std::string> files{{"readme.txt", "r"}};
  for (int i = 0; i < 40; ++i)
    files["地图/北区 " + std::to_string(i) + ".map"] = std::string(2048, static_cast<char>(i));
  const fs::path release = Release("release", "target-zh.exe", files);
  const fs::path www = dir_ / "www";  // not there yet: its parent is
  const Outcome staged = Run({"stage", release.string(), www.string(), kBase});
  ASSERT_EQ(staged.status, 0) << staged.err;
  const std::string manifest = ReadFile(www / "update_go/update.htm");
  const std::string index = ReadFile(www / "v/1,0,0,4.index");
  EXPECT_EQ(manifest.rfind("update_version=1,0,0,4\r\nupdate_filesize=16384\r\nupdate_url=" + std::string(kBase) +
                               "/v/1,0,0,4\r\nupdate_size=1\r\nupdate_index=.index ",
                           0),
            0u)
      << manifest;
  EXPECT_EQ(index.rfind("update_size=42\r\nupdate_name0=readme.txt\r\n", 0), 0u);
  EXPECT_NE(staged.out.find("created the web root " + www.string() + "\n"), std::string::npos);
  EXPECT_NE(staged.out.find("wrote " + (www / "v/1,0,0,4.index").string() + " (42 entries, " +
                            std::to_string(index.size()) + " bytes)"),
            std::string::npos)
      << staged.out;
  EXPECT_FALSE(fs::exists(www / ".stage.lock"));

  const std::string served = (www / "update_go/update.htm").string();
  const Outcome checked = Run({"check", served, "--web-root", www.string(), "--release", release.string()});
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_NE(checked.out.find("update_size=1\nupdate_index=" + std::string(kBase) +
                             "/v/1,0,0,4.index: " + std::to_string(index.size()) + " bytes, update_size=42\n"),
            std::string::npos)
      << checked.out;
  EXPECT_NE(checked.out.find("/v/1,0,0,4/\xB5\xD8\xCD\xBC/\xB1\xB1\xC7\xF8 39.map -> <install>\\\xB5\xD8\xCD\xBC\\"),
            std::string::npos);
  const Outcome unchecked = Run({"check", served});
  EXPECT_EQ(unchecked.status, 1);
  EXPECT_NE(unchecked.err.find("is not checked: give --web-root"), std::string::npos);
  const fs::path install = Release("install", "", {});
  const Outcome planned = Run({"plan", served, install.string(), "--web-root", www.string()});
  EXPECT_EQ(planned.status, 0) << planned.out;
  EXPECT_NE(planned.out.find("entry 41: downloads <install>\\Ostravine.exe\n"), std::string::npos);

  // Staged again: the same bytes. An index of other bytes, or a second stage at work, is refused.
  const auto tree = Tree(www);
  EXPECT_EQ(Run({"stage", release.string(), www.string(), kBase}).status, 0);
  EXPECT_EQ(Tree(www), tree);
  {
    const int lock = ::open((www / ".stage.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const Outcome busy = Run({"stage", release.string(), www.string(), kBase});
    EXPECT_EQ(busy.status, 1);
    EXPECT_EQ(busy.err, "merovast-publish: " + www.string() +
                            ": another merovast-publish stage is staging into this web root; try again once it has "
                            "finished\n");
    ::close(lock);
    fs::remove(www / ".stage.lock");
  }
  WriteFile(www / "v/1,0,0,4.index", index + "\r\n");
  const Outcome changed = Run({"stage", release.string(), www.string(), kBase});
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("1,0,0,4.index: already holds another index of this version"), std::string::npos);
  const Outcome tampered = Run({"check", served, "--web-root", www.string()});
  EXPECT_EQ(tampered.status, 1);
  EXPECT_NE(tampered.err.find("its update_index= line says " + std::to_string(index.size())), std::string::npos);

  // manifest writes the index next to OUTPUT and says where to serve it; a small release takes one
  // with --index; --since does not combine with it.
  const fs::path output = dir_ / "update.htm";
  const Outcome written = Run({"manifest", release.string(), kUrl, output.string()});
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, output.string() + ".index: serve it at " + kUrl + ".index\n");
  EXPECT_EQ(ReadFile(output.string() + ".index"), index);
  EXPECT_EQ(Run({"manifest", release.string(), kUrl}).status, 1) << "an index needs OUTPUT";
  const Outcome small = Run({"manifest", Sample("small").string(), kUrl, output.string(), "--index"});
  EXPECT_EQ(small.status, 0) << small.err;
  EXPECT_NE(ReadFile(output).find("update_size=1\r\nupdate_index=.index "), std::string::npos);
  const Outcome since =
      Run({"manifest", release.string(), kUrl, output.string(), "--index", "--since", release.string()});
  EXPECT_EQ(since.status, 1);
  EXPECT_EQ(since.err,
            "merovast-publish: --since and --index do not combine: a patch lists only what changed since one "
            "release\n");

  // 5,000 files with Chinese names in three folder levels, in one command.
  std::map<std::string, std::string> many;
  for (int i = 0; i < 4999; ++i) {
    const std::string folders[] = {"", "地图" + std::to_string(i % 7) + "/",
                                   "地图" + std::to_string(i % 7) + "/北区 " + std::to_string(i % 5) + "/"};
    many[folders[i % 3] + "文件" + std::to_string(i) + ".dat"] = std::to_string(i);
  }
  const fs::path large = Release("large", "target-zh.exe", many);
  const Outcome stagedLarge = Run({"stage", large.string(), (dir_ / "www-large").string(), kBase});
  EXPECT_EQ(stagedLarge.status, 0) << stagedLarge.err;
  EXPECT_EQ(ReadFile(dir_ / "www-large/v/1,0,0,4.index").rfind("update_size=5000\r\n", 0), 0u);
  const Outcome checkedLarge = Run({"check", (dir_ / "www-large/update_go/update.htm").string(), "--web-root",
                                    (dir_ / "www-large").string(), "--release", large.string()});
  EXPECT_EQ(checkedLarge.status, 0) << checkedLarge.err;
}

// A patch lists what differs from the base and the target; a folder counts as present when
// the base has a file in it.
TEST_F(PublishCli, SinceListsOnlyWhatChangedAndReportsWhatWasRemoved) {
  const fs::path base = Release("base", "target-zh.exe",
                                {{"same.txt", "s"}, {"data/a.dat", "old"}, {"lib/old.dll", "o"}, {"old.txt", "o"}});
  const fs::path release =
      Release("release", "target-zh.exe", {{"same.txt", "s"}, {"data/a.dat", "new"}, {"lib/x/new.dll", "n"}});
  const Outcome whole = Run({"manifest", release.string(), kUrl});
  EXPECT_EQ(whole.status, 1);
  EXPECT_EQ(whole.err.rfind("merovast-publish: lib/: this folder has subfolders but no file of its own,", 0), 0u);

  const Outcome patch = Run({"manifest", release.string(), kUrl, "--since", base.string(), "--no-hashes"});
  EXPECT_EQ(patch.status, 0) << patch.err;
  EXPECT_EQ(patch.out,
            "update_version=1,0,0,4\r\nupdate_filesize=16384\r\nupdate_url=http://127.0.0.1:8081/release\r\n"
            "update_size=3\r\nupdate_name0=a.dat\r\nupdate_from0=/data\r\nupdate_to0=\\data\r\n"
            "update_name1=new.dll\r\nupdate_from1=/lib/x\r\nupdate_to1=\\lib\\x\r\n"
            "update_name2=Ostravine.exe\r\nupdate_from2=\r\nupdate_to2=\r\n");
  const std::string removed = ": removed since " + base.string() + "; the updater leaves it in installations\n";
  EXPECT_EQ(patch.err, "merovast-publish: lib/old.dll" + removed + "merovast-publish: old.txt" + removed);

  WriteFile(release / "extra/deep/z.dat", "z");
  const Outcome unreachable = Run({"manifest", release.string(), kUrl, "--since", base.string()});
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_EQ(unreachable.err,
            "merovast-publish: extra/: this folder has subfolders but no file of its own in the release or its base, "
            "so the updater cannot create extra/deep/; put a file in extra/\n");
}

// The updater reads 5000 bytes of the manifest: a release whose manifest fills them exactly is
// published, one byte more is refused.
TEST_F(PublishCli, PublishesAManifestOfExactly5000BytesAndRefusesOneMore) {
  std::map<std::string, std::string> files;
  for (int i = 0; i < 31; ++i)
    files[std::string(100, static_cast<char>('a' + i % 26)) + std::to_string(i) + ".dat"] = "x";
  const fs::path root = Release("full", "target-zh.exe", files);
  const auto publishWithLast = [&](std::size_t length) {
    for (const auto& entry : fs::directory_iterator(root))
      if (entry.path().filename().string().starts_with("last")) fs::remove(entry.path());
    WriteFile(root / ("last" + std::string(length - 4, 'z')), "z");
    return Run({"manifest", root.string(), kUrl, "--no-hashes"});
  };
  const Outcome shorter = publishWithLast(10);
  ASSERT_EQ(shorter.status, 0) << shorter.err;
  ASSERT_LT(shorter.out.size(), 5000u);
  const std::size_t fitting = 10 + 5000 - shorter.out.size();
  ASSERT_LE(fitting, 255u) << "file names on Linux stop at 255 bytes";

  const Outcome full = publishWithLast(fitting);
  EXPECT_EQ(full.status, 0) << full.err;
  EXPECT_EQ(full.out.size(), 5000u);
  const Outcome over = publishWithLast(fitting + 1);
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(over.err, "merovast-publish: the manifest would be 5001 bytes; the updater reads at most 5000\n");
}

TEST_F(PublishCli, HelpSucceedsAndWrongUsageExitsWith2) {
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: merovast-publish manifest RELEASE_DIR URL [OUTPUT]\n", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"manifest", dir_.string()},
                                             {"manifest", dir_.string(), kUrl, "a", "b"},
                                             {"check"},
                                             {"check", "a", "b"},
                                             {"check", "a", "--no-hashes"},
                                             {"manifest", dir_.string(), kUrl, "--key"},
                                             {"keygen"},
                                             {"publish", dir_.string(), kUrl}}) {
    const Outcome wrong = Run(args);
    EXPECT_EQ(wrong.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, help.out) << ::testing::PrintToString(args);
  }
}

TEST_F(PublishCli, WritesAMapForEveryLargeFileAndCheckHoldsItAgainstTheFile) {
  std::string big(std::size_t{3} << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  const fs::path release = Release("mapped", "target-zh.exe", {{"data/big.pak", big}, {"data/small.txt", "small"}});
  const std::string out = (dir_ / "out.htm").string();
  const Outcome written = Run({"manifest", release.string(), kUrl, out});
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, "wrote 1 block maps to " + out + ".maps/: serve them at " + kUrl + ".maps/\n");
  const std::string manifest = ReadFile(out);
  const auto mapAt = manifest.find("update_map0=.maps/");
  ASSERT_NE(mapAt, std::string::npos) << "directly after big.pak's hash line";
  EXPECT_NE(manifest.find("\r\nupdate_hash0=", 0), std::string::npos);
  EXPECT_EQ(manifest.find("update_map1="), std::string::npos) << "no map for a small file";
  const fs::path map = fs::path(out + ".maps") / manifest.substr(mapAt + 18, 64);
  EXPECT_EQ(fs::file_size(map), 16u + 12u * 192u) << "768 bytes per MiB and a header";

  EXPECT_EQ(Run({"check", out, "--release", release.string()}).status, 0);

  // plan counts what the updater fetches after a killed run: with the map, the blocks the
  // temporary file lacks; without one, the rest of it in one range.
  const fs::path install = dir_ / "install";
  WriteFile(install / "data/big.pak.download", big.substr(0, std::size_t{1} << 20));
  WriteFile(install / "data/small.txt.download", "sm");
  const Outcome planned = Run({"plan", out, install.string()});
  EXPECT_NE(planned.out.find("fetches 2099472 bytes (its map 2320 bytes, 1 ranges, of a file of 3145728 bytes)\n"),
            std::string::npos)
      << planned.out;
  EXPECT_NE(planned.out.find("fetches 3 bytes (1 ranges, of a file of 5 bytes)\n"), std::string::npos) << planned.out;

  std::string bytes = ReadFile(map);
  bytes[100] ^= 1;
  WriteFile(map, bytes);
  const Outcome changed = Run({"check", out, "--release", release.string()});
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("is not the one its map line states"), std::string::npos) << changed.err;
  fs::remove(map);
  EXPECT_NE(Run({"check", out, "--release", release.string()}).err.find("is not beside the manifest"),
            std::string::npos);
}

// Releases staged into a store: every file, index and map once under its SHA-256 and ASCII names,
// each release recorded in staging order; check, plan and renew follow the store line, and prune
// keeps the served release and those staged just before it.
TEST_F(PublishCli, StagesReleasesIntoAStoreThatCheckPlanAndPruneFollow) {
  const std::string big(std::size_t{1} << 20, 'b');  // large enough for a map, shared by every release
  // Releases 1,0,0,4 to 1,0,0,7: the target and 东.map change, 说明.txt and big.pak do not.
  std::vector<fs::path> releases;
  for (char v = '4'; v <= '7'; ++v) {
    releases.push_back(
        Release(std::string("r") + v, "target-zh.exe",
                {{"说明.txt", "same"}, {"地图/东.map", std::string("east ") + v}, {"data/big.pak", big}}));
    std::string target = ReadFile(releases.back() / "Ostravine.exe");
    const std::string from{'1', 0, ',', 0, ' ', 0, '0', 0, ',', 0, ' ', 0, '0', 0, ',', 0, ' ', 0, '4', 0};
    ASSERT_NE(target.find(from), std::string::npos);
    target.replace(target.find(from) + from.size() - 2, 1, 1, v);
    WriteFile(releases.back() / "Ostravine.exe", target);
  }
  const fs::path www = dir_ / "www", store = www / "o", manifest = www / "update_go/update.htm";
  const auto stage = [&](std::size_t i, std::vector<std::string> options = {}) {
    std::vector<std::string> args{"stage", releases[i].string(), www.string(), kBase, "--no-packs", "--store"};
    args.insert(args.end(), options.begin(), options.end());
    return Run(args);
  };
  const auto objects = [&] {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(store)) count += entry.is_regular_file() ? 1 : 0;
    return count;
  };
  const Outcome first = stage(0);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string served = ReadFile(manifest);
  EXPECT_EQ(served.rfind("update_version=1,0,0,4\r\nupdate_filesize=16384\r\nupdate_url=" + std::string(kBase) +
                             "/v/1,0,0,4\r\nupdate_store=" + kBase + "/o\r\nupdate_size=1\r\nupdate_index=.index ",
                         0),
            0u)
      << served;
  EXPECT_NE(first.out.find("stored 6 objects"), std::string::npos) << "4 files, the index and a map: " << first.out;
  for (const auto& [path, bytes] : Tree(www)) {
    EXPECT_TRUE(std::all_of(path.begin(), path.end(), [](char c) { return c > ' ' && c < 0x7f; })) << path;
    EXPECT_FALSE(path.starts_with("v/")) << "without --folders, no version folder";
  }
  EXPECT_EQ(ReadFile(www / "releases/000001.htm"), served);

  // The next release shares two files and the map: each object is written once.
  const fs::path shared = store / "09/0967115f2813a3541eaef77de9d9d5773f1c0c04314b0bbfe4ff3b3b1c55b5d5";
  ASSERT_EQ(ReadFile(shared), "same");
  struct stat before {};
  ASSERT_EQ(::stat(shared.c_str(), &before), 0);
  const Outcome second = stage(1);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.out.find("stored 3 objects ("), std::string::npos)
      << "the target, 东.map, the index: " << second.out;
  EXPECT_NE(second.out.find(", 3 of the release's 6 already there\n"), std::string::npos) << second.out;
  struct stat after {};
  ASSERT_EQ(::stat(shared.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "an object already there is not written again";
  EXPECT_EQ(objects(), 9u);

  // An object whose bytes are not its name is refused, and nothing is written.
  WriteFile(shared, "samE");
  const auto tree = Tree(www);
  const Outcome corrupted = stage(2);
  EXPECT_EQ(corrupted.status, 1);
  EXPECT_EQ(corrupted.err, "merovast-publish: " + shared.string() +
                               ": its SHA-256 is not its name; an object never changes: remove it, and stage again\n");
  EXPECT_EQ(Tree(www), tree);
  WriteFile(shared, "same");
  ASSERT_EQ(stage(2).status, 0);
  ASSERT_EQ(stage(3).status, 0);
  std::vector<std::string> versions;
  for (const auto& [path, bytes] : Tree(www / "releases")) versions.push_back(path + " " + bytes.substr(4 + 15, 7));
  EXPECT_EQ(versions, (std::vector<std::string>{"000001.htm 1,0,0,4", "000002.htm 1,0,0,5", "000003.htm 1,0,0,6",
                                                "000004.htm 1,0,0,7"}));

  // check and plan find every object in the web root's store; check reports one tampered with.
  const Outcome checked =
      Run({"check", manifest.string(), "--web-root", www.string(), "--release", releases[3].string()});
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_NE(checked.out.find("update_store=" + std::string(kBase) + "/o\n"), std::string::npos) << checked.out;
  EXPECT_NE(
      checked.out.find(std::string(kBase) + "/o/09/0967115f2813a3541eaef77de9d9d5773f1c0c04314b0bbfe4ff3b3b1c55b5d5"
                                            " -> <install>\\\xCB\xB5\xC3\xF7.txt\n"),
      std::string::npos)
      << checked.out;
  const fs::path install = Release("install", "", {});
  const Outcome planned = Run({"plan", manifest.string(), install.string(), "--web-root", www.string()});
  EXPECT_EQ(planned.status, 0) << planned.out;
  EXPECT_NE(planned.out.find("entry 3: downloads <install>\\Ostravine.exe\n"), std::string::npos) << planned.out;
  WriteFile(shared, "samE");
  const Outcome tampered = Run({"check", manifest.string(), "--web-root", www.string()});
  EXPECT_EQ(tampered.status, 1);
  EXPECT_EQ(tampered.err, manifest.string() + ": entry 0: " + shared.string() + ": its SHA-256 is not its name\n");
  WriteFile(shared, "same");

  // prune: --dry-run changes nothing; keep 3, then 2, removes the oldest records, then the objects
  // only they named; every kept release still checks.
  const auto stored = Tree(www);
  const Outcome dry = Run({"prune", www.string(), "--keep", "2", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.out.rfind("would remove the record " + (www / "releases/000001.htm").string() +
                              " (1,0,0,4)\nwould remove the record " + (www / "releases/000002.htm").string() +
                              " (1,0,0,5)\nwould remove 6 objects (",
                          0),
            0u)
      << dry.out;
  EXPECT_EQ(Tree(www), stored);
  for (const auto& [keep, records, removed] :
       std::vector<std::tuple<std::string, std::size_t, std::size_t>>{{"3", 3, 3}, {"2", 2, 3}, {"2", 2, 0}}) {
    const Outcome pruned = Run({"prune", www.string(), "--keep", keep});
    EXPECT_EQ(pruned.status, 0) << pruned.err;
    EXPECT_NE(pruned.out.find("removes " + std::to_string(removed) + " objects ("), std::string::npos) << pruned.out;
    EXPECT_EQ(objects(), 6u + 3u * records - 3u) << pruned.out;
    for (const auto& [path, bytes] : Tree(www / "releases")) {
      const Outcome kept = Run({"check", (www / "releases" / path).string(), "--web-root", www.string()});
      EXPECT_EQ(kept.status, 0) << path << kept.err;
    }
  }
  // The served manifest's objects stay even when no record names it.
  fs::remove_all(www / "releases");
  EXPECT_EQ(Run({"prune", www.string(), "--keep", "2"}).status, 0);
  EXPECT_EQ(Run({"check", manifest.string(), "--web-root", www.string()}).status, 0);
  EXPECT_EQ(objects(), 6u);
  for (const std::string keep : {"1", "x"}) {
    const Outcome refused = Run({"prune", www.string(), "--keep", keep});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.rfind("merovast-publish: --keep " + keep + ": give 2 or more", 0), 0u) << refused.err;
  }
}

// A store release for the updaters that predate it: with --folders it has its version folder too.
// Older updaters are modelled by the manifest without the lines they do not know, which they read
// as text to ignore: none of them touches anything it cannot finish.
TEST_F(PublishCli, StoreReleasesMeetOlderUpdatersAndAreWrittenBesideAManifestAndRenewed) {
  const fs::path release = Sample("release"), install = Release("install", "", {});
  const std::string cdn = "http://cdn.example.com/o";
  for (const bool folders : {false, true}) {
    const fs::path www = dir_ / (folders ? "www-folders" : "www"), manifest = www / "update_go/update.htm";
    // The objects are found by their names below the web root, whatever the store URL's path.
    const std::string storeUrl = folders ? "http://cdn.example.com:8080/releases/o" : std::string(kBase) + "/o";
    std::vector<std::string> args{"stage", release.string(), www.string(), kBase, "--no-packs", "--store"};
    if (folders) args.insert(args.end(), {storeUrl, "--folders"});
    const Outcome staged = Run(args);
    ASSERT_EQ(staged.status, 0) << staged.err;
    EXPECT_NE(ReadFile(manifest).find("/v/1,0,0,4\r\nupdate_store=" + storeUrl +
                                      "\r\nupdate_size=" + (folders ? "6\r\n" : "1\r\nupdate_index=")),
              std::string::npos);
    EXPECT_EQ(fs::exists(www / "v/1,0,0,4/Ostravine.exe"), folders);
    const Outcome checked = Run({"check", manifest.string(), "--web-root", www.string(), "--release",
                                 (folders ? www / "v/1,0,0,4" : release).string()});
    EXPECT_EQ(checked.status, 0) << checked.err;
  }
  // The manifest, the lines taken out, and what plan says of it.
  const std::string succeeds = "entry 5: downloads <install>\\Ostravine.exe\n";
  const std::vector<std::tuple<std::string, std::vector<std::string>, std::string, int>> updaters{
      {"www", {}, succeeds, 0},
      {"www", {"update_store="}, "stops: the index " + std::string(kBase) + "/v/1,0,0,4.index cannot be had", 1},
      {"www", {"update_store=", "update_index="}, "entry 0: stops: update_name0= is missing\n", 1},
      {"www-folders", {}, succeeds, 0},
      {"www-folders", {"update_store="}, succeeds, 0},
  };
  for (const auto& [www, unknown, says, status] : updaters) {
    std::string manifest = ReadFile(dir_ / www / "update_go/update.htm");
    for (const std::string& key : unknown) {
      const std::size_t at = manifest.find("\r\n" + key) + 2;
      manifest.erase(at, manifest.find("\r\n", at) + 2 - at);
    }
    WriteFile(dir_ / "older.htm", manifest);
    const Outcome planned =
        Run({"plan", (dir_ / "older.htm").string(), install.string(), "--web-root", (dir_ / www).string()});
    EXPECT_EQ(planned.status, status) << www << ::testing::PrintToString(unknown) << planned.out;
    EXPECT_NE(planned.out.find(says), std::string::npos) << planned.out;
  }

  // manifest --store: the objects beside OUTPUT, and where to serve them.
  const std::string output = (dir_ / "update.htm").string();
  const Outcome written = Run({"manifest", release.string(), kUrl, output, "--store", cdn});
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, "wrote 7 objects to " + output + ".objects/: serve them at " + cdn + "/ (as XX/SHA256)\n");
  // Seven objects, each in the folder of its hash's first two digits (which two may share).
  std::size_t objects = 0;
  for (const auto& item : fs::recursive_directory_iterator(output + ".objects"))
    if (item.is_regular_file()) {
      EXPECT_EQ(item.path().parent_path().filename().string(), item.path().filename().string().substr(0, 2));
      ++objects;
    }
  EXPECT_EQ(objects, 7u);
  EXPECT_NE(ReadFile(output).find("\r\nupdate_store=" + cdn + "\r\nupdate_size=1\r\nupdate_index=.index "),
            std::string::npos);

  // renew puts the expiry between update_url and the store line, which it keeps byte for byte.
  const std::string key = KEYS_DIR "/test-private.pem";
  ASSERT_EQ(Run({"manifest", release.string(), kUrl, output, "--store", cdn, "--key", key}).status, 0);
  for (int i = 0; i < 2; ++i) {
    const Outcome renewed = Run({"renew", output, "--key", key, "--expires-in", "30"});
    EXPECT_EQ(renewed.status, 0) << renewed.err;
    const std::string manifest = ReadFile(output);
    const std::size_t expiry = manifest.find(std::string(kUrl) + "\r\nupdate_expires=");
    ASSERT_NE(expiry, std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("\r\nupdate_store=" + cdn + "\r\nupdate_size=1\r\n"), manifest.find("\r\n", expiry + 40))
        << manifest;
  }

  // Options a store does not take are refused before anything is written.
  const fs::path www = dir_ / "www";
  const auto before = Tree(www);
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals{
      {{"--store", "--since", release.string()}, "--since and --store do not combine"},
      {{"--store", "--no-hashes"}, "a store names every file by its hash line: leave out --no-hashes"},
      {{"--store", cdn + "/"}, cdn + "/: not a store's URL"},
      {{"--store", "http://user@cdn.example.com/o"}, "http://user@cdn.example.com/o: not a store's URL"},
      {{"--folders"}, "--folders goes with --store"},
  };
  for (const auto& [options, message] : refusals) {
    std::vector<std::string> args{"stage", release.string(), www.string(), kBase};
    args.insert(args.end(), options.begin(), options.end());
    const Outcome refused = Run(args);
    EXPECT_EQ(refused.status, 1) << message;
    EXPECT_EQ(refused.err.rfind("merovast-publish: " + message, 0), 0u) << refused.err;
    EXPECT_EQ(Tree(www), before) << message;
  }
}

// Release 1,0,0,4 renames 数据/旧地图.map to 数据/地图.map: stage gives it a removal line from the
// web root's ledger, check prints it and plan says what it does to an installation of 1,0,0,3.
TEST_F(PublishCli, StageWritesARemovalLineForEveryPublishedFileTheReleaseDrops) {
  const auto versioned = [this](const std::string& name, char v, const std::map<std::string, std::string>& files) {
    fs::path root = Release(name, "target-zh.exe", files);
    std::string target = ReadFile(root / "Ostravine.exe");
    const std::string from{'1', 0, ',', 0, ' ', 0, '0', 0, ',', 0, ' ', 0, '0', 0, ',', 0, ' ', 0, '4', 0};
    target.replace(target.find(from) + from.size() - 2, 1, 1, v);
    WriteFile(root / "Ostravine.exe", target);
    return root;
  };
  const fs::path old = versioned("r3", '3', {{"数据/旧地图.map", "old map"}, {"数据/Case.dat", "case"}});
  const fs::path renamed = Release("r4", "target-zh.exe", {{"数据/地图.map", "new map"}, {"数据/CASE.dat", "case"}});
  const fs::path www = dir_ / "www";
  const std::string oldMap = "\\\xCA\xFD\xBE\xDD\\\xBE\xC9\xB5\xD8\xCD\xBC.map";  // \数据\旧地图.map
  ASSERT_EQ(Run({"stage", old.string(), www.string(), kBase}).status, 0);
  const Outcome staged = Run({"stage", renamed.string(), www.string(), kBase});
  ASSERT_EQ(staged.status, 0) << staged.err;
  const std::string manifest = ReadFile(www / "update_go/update.htm");
  // A rename only in case is no removal: the file is the one the release lists.
  EXPECT_NE(manifest.find("update_removed=1\r\nupdate_gone0=" + oldMap + " " + Published("old map") + "\r\n"),
            std::string::npos)
      << manifest;
  EXPECT_NE(staged.out.find("the manifest has 1 removal line(s)"), std::string::npos) << staged.out;
  const Outcome checked = Run({"check", (www / "update_go/update.htm").string()});
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_NE(checked.out.find("removal line 0: removes <install>\\数据\\旧地图.map when it is " + Published("old map")),
            std::string::npos)
      << checked.out;

  struct Row {
    const char* what;
    std::map<std::string, std::string> installed;  // besides the target of 1,0,0,3
    std::string step;
  };
  const std::vector<Row> rows{
      {"the published bytes",
       {{"数据/旧地图.map", "old map"}, {"数据/mine.map", "old map"}},
       "removes <install>\\数据\\旧地图.map"},
      {"a changed copy",
       {{"数据/旧地图.map", "my map"}},
       "keeps <install>\\数据\\旧地图.map: its bytes are not the published ones"},
      {"nothing", {{"数据/x", "x"}}, "nothing at <install>\\数据\\旧地图.map"},
  };
  for (const Row& row : rows) {
    const fs::path install = dir_ / "install";
    fs::remove_all(install);
    fs::create_directories(install);
    fs::copy_file(old / "Ostravine.exe", install / "Ostravine.exe");
    for (const auto& [path, bytes] : row.installed) WriteFile(install / path, bytes);
    const Outcome planned = Run({"plan", (www / "update_go/update.htm").string(), install.string()});
    EXPECT_EQ(planned.status, 0) << row.what << planned.err;
    EXPECT_NE(planned.out.find("\n" + row.step + "\n"), std::string::npos) << row.what << planned.out;
    EXPECT_EQ(planned.out.find("mine.map"), std::string::npos) << "a user's own file is never named";
  }

  // The ledger keeps every file published, so a later release still removes the old map; the same
  // with --keep-files leaves the lines out. Both through `manifest`, given the folders published.
  const Outcome later =
      Run({"manifest", renamed.string(), kUrl, "--published", old.string(), "--published", renamed.string()});
  EXPECT_EQ(later.status, 0) << later.err;
  EXPECT_NE(later.out.find("update_gone0=" + oldMap + " "), std::string::npos) << later.out;
  EXPECT_EQ(Run({"manifest", renamed.string(), kUrl}).out.find("update_removed="), std::string::npos);

  // Refused before anything is written: a file made a folder or back, removal lines without a hash
  // line on every entry, and removal lines that would not fit in the manifest without an index.
  struct Refusal {
    std::map<std::string, std::string> files;
    std::vector<std::string> options;
    std::string message;
  };
  const std::vector<Refusal> refusals{
      {{{"数据/旧地图.map/x.txt", "x"}},
       {},
       "\\数据\\旧地图.map: a published file, which this release would make a folder"},
      {{{"数据", "x"}}, {}, "\\数据: a folder of published files, which this release would make a file"},
      {{{"a.txt", "a"}}, {"--no-hashes"}, "removal lines need a hash line on every entry"},
  };
  for (std::size_t i = 0; i < refusals.size(); ++i) {
    const fs::path next = versioned("r5-" + std::to_string(i), '5', refusals[i].files);
    const auto before = Tree(www);
    std::vector<std::string> args{"stage", next.string(), www.string(), kBase};
    args.insert(args.end(), refusals[i].options.begin(), refusals[i].options.end());
    const Outcome refused = Run(args);
    EXPECT_EQ(refused.status, 1) << refusals[i].message;
    EXPECT_EQ(refused.err.rfind("merovast-publish: " + refusals[i].message, 0), 0u) << refused.err;
    EXPECT_EQ(Tree(www), before) << refusals[i].message;
  }
  std::map<std::string, std::string> many;
  for (int i = 0; i < 60; ++i) many["data/a file published long ago, number " + std::to_string(i) + ".dat"] = "x";
  const fs::path crowded = Release("crowded", "target-zh.exe", many);
  const Outcome tooMany = Run({"manifest", renamed.string(), kUrl, "--published", crowded.string()});
  EXPECT_EQ(tooMany.status, 1);
  EXPECT_NE(tooMany.err.find("removal lines never move a release into an index: give --keep-files"), std::string::npos)
      << tooMany.err;
  const Outcome kept = Run({"manifest", renamed.string(), kUrl, "--published", crowded.string(), "--keep-files"});
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(kept.out, Run({"manifest", renamed.string(), kUrl}).out);
}

// Small files of a store release travel in packs: a second release keeps the packs whose bytes it
// still mostly uses and packs only what changed; check reads every packed file in its pack, plan
// counts the requests an updater makes, and prune keeps a pack while a kept release points into it.
TEST_F(PublishCli, StagedSmallFilesTravelInPacksThatLaterReleasesReuse) {
  const std::string big(std::size_t{1} << 20, 'b');  // as large as a file with a map, never packed
  std::vector<fs::path> releases;
  for (char v = '4'; v <= '6'; ++v) {
    std::map<std::string, std::string> files{{"data/big.pak", big}};
    for (int i = 0; i < 6; ++i)
      files["data/f" + std::to_string(i) + ".dat"] = std::string(40000, static_cast<char>('a' + i));
    // 1,0,0,5 changes f0, which leaves most of the first pack in use; 1,0,0,6 changes f3 to f5, which
    // leaves less than half of it: its f1 and f2 are packed again.
    if (v >= '5') files["data/f0.dat"] = std::string(40000, 'z');
    if (v == '6')
      for (int i = 3; i < 6; ++i)
        files["data/f" + std::to_string(i) + ".dat"] = std::string(40000, static_cast<char>('A' + i));
    releases.push_back(Release(std::string("r") + v, "target-zh.exe", files));
    std::string target = ReadFile(releases.back() / "Ostravine.exe");
    const std::string from{'1', 0, ',', 0, ' ', 0, '0', 0, ',', 0, ' ', 0, '0', 0, ',', 0, ' ', 0, '4', 0};
    target.replace(target.find(from) + from.size() - 2, 1, 1, v);
    WriteFile(releases.back() / "Ostravine.exe", target);
  }
  const fs::path www = dir_ / "www", manifest = www / "update_go/update.htm";
  const fs::path install = Release("install", "", {});
  const auto objects = [&] {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(www / "o")) count += entry.is_regular_file() ? 1 : 0;
    return count;
  };
  const auto plan = [&] { return Run({"plan", manifest.string(), install.string(), "--web-root", www.string()}); };
  struct Row {
    std::string staged;   // what stage says of the packs
    std::size_t objects;  // in the store afterwards
    std::string fetches;  // plan's last line, over the installation of the release before
  };
  const std::vector<Row> rows{
      // The manifest, the index, the large file and the whole pack.
      {"packed 7 files of less than 1048576 bytes: 1 new packs, 0 kept from earlier releases", 4,
       "fetches in all: 1304960 bytes in 4 requests"},
      // The new pack of f0 and the target, whole; the installed f1 to f5 are stepped over.
      {"packed 7 files of less than 1048576 bytes: 1 new packs, 1 kept from earlier releases", 6,
       "fetches in all: 56384 bytes in 3 requests"},
      // f0 stays in the second pack; f1 and f2 are installed, so one range from f3 to the target.
      {"packed 7 files of less than 1048576 bytes: 1 new packs, 1 kept from earlier releases", 8,
       "fetches in all: 136384 bytes in 3 requests"},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const Outcome staged = Run({"stage", releases[r].string(), www.string(), kBase, "--store"});
    ASSERT_EQ(staged.status, 0) << staged.err;
    EXPECT_NE(staged.out.find(rows[r].staged), std::string::npos) << staged.out;
    EXPECT_EQ(objects(), rows[r].objects) << staged.out;
    EXPECT_NE(ReadFile(manifest).find("update_store=" + std::string(kBase) + "/o packs\r\n"), std::string::npos);
    const Outcome checked = Run({"check", manifest.string(), "--web-root", www.string()});
    EXPECT_EQ(checked.status, 0) << checked.err;
    EXPECT_NE(checked.out.find(" bytes=0-39999 -> <install>\\data\\f0.dat\n"), std::string::npos) << checked.out;
    const Outcome planned = plan();
    EXPECT_EQ(planned.status, 0) << planned.out;
    EXPECT_NE(planned.out.find(rows[r].fetches), std::string::npos) << planned.out;
    // The next row's installation is this release.
    fs::remove_all(install);
    fs::copy(releases[r], install, fs::copy_options::recursive);
  }
  const Outcome current = plan();
  EXPECT_NE(current.out.find("fetches in all: 0 bytes in 1 requests"), std::string::npos) << current.out;

  // A changed byte in the newest pack: check names the pack.
  const std::string record = ReadFile(www / "releases/000003.htm");
  fs::path newest;
  for (const auto& entry : fs::recursive_directory_iterator(www / "o"))
    if (entry.is_regular_file() && fs::file_size(entry.path()) == 216384) newest = entry.path();
  ASSERT_FALSE(newest.empty());
  const std::string original = ReadFile(newest);
  std::string bytes = original;
  bytes[45000] ^= 1;
  WriteFile(newest, bytes);
  const Outcome tampered = Run({"check", manifest.string(), "--web-root", www.string()});
  EXPECT_EQ(tampered.status, 1);
  EXPECT_NE(tampered.err.find(newest.string() + ": its SHA-256 is not its name"), std::string::npos) << tampered.err;
  WriteFile(newest, original);

  // prune --keep 2: the first release's index goes; its pack stays, since the second points into it.
  const Outcome pruned = Run({"prune", www.string(), "--keep", "2"});
  EXPECT_EQ(pruned.status, 0) << pruned.err;
  for (const auto& [path, kept] : Tree(www / "releases")) {
    const Outcome check = Run({"check", (www / "releases" / path).string(), "--web-root", www.string()});
    EXPECT_EQ(check.status, 0) << path << check.err;
  }
  EXPECT_EQ(ReadFile(www / "releases/000003.htm"), record);
  EXPECT_NE(pruned.out.find("removes 1 objects ("), std::string::npos) << pruned.out;
  EXPECT_EQ(objects(), 7u) << pruned.out;
}

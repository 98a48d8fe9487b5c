// merovast-publish as a publisher runs it: release folders on disk with a real 32-bit target,
// judged by the manifest bytes written, the exit status and the messages.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUrl = "http://127.0.0.1:8081/release";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
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
    std::string command = Quoted(PUBLISH_TOOL);
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

std::string Golden(const std::string& name) { return ReadFile(fs::path(GOLDEN_DIR) / name); }

}  // namespace

TEST_F(PublishCli, WritesTheGoldenManifestOfAReleaseFolder) {
  const fs::path output = dir_ / "update.htm";
  const Outcome written = Run({"manifest", Sample("release").string(), kUrl, output.string()});
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out + written.err, "");
  EXPECT_EQ(ReadFile(output), Golden("release.htm"));

  const Outcome printed = Run({"manifest", (dir_ / "release").string(), kUrl});
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
  const Outcome punctuated = Run({"manifest", deep.string(), "http://updates.example.com:8081/games/r2/"});
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
            "http://127.0.0.1:8081/release/Ostravine.exe -> <install>\\Ostravine.exe\n");
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

TEST_F(PublishCli, RefusesAReleaseTheUpdaterCannotInstallAndKeepsTheServedManifest) {
  struct Case {
    std::string target;
    std::map<std::string, std::string> files;
    std::string message;
  };
  const std::string urlRule =
      "\" must use only letters, digits and -._~!$&'()+,;=@ (safe in a URL path and a Windows name)";
  const std::vector<Case> cases{
      {"target-zh.exe",
       {{"data/maps/east.map", "e"}},
       "data/: this folder has subfolders but no file of its own, so the updater cannot create data/maps/"},
      {"target-zh.exe",
       {{"con.txt", "c"}},
       "con.txt: the updater refuses this entry: name names a reserved device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)"},
      {"target-zh.exe", {{"my notes.txt", "n"}}, "my notes.txt: \"my notes.txt" + urlRule},
      {"target-zh.exe", {{"地图/east.map", "e"}}, "地图/east.map: \"地图" + urlRule},
      {"", {{"bin/Ostravine.exe", "MZ"}}, "Ostravine.exe: not in "},
      {"target-en.exe",
       {},
       "Ostravine.exe: has no FileVersion in a Chinese (PRC) Unicode version table (080404b0), so the updater could "
       "never "
       "find it current"},
      {"",
       {{"Ostravine.exe", "not a program"}},
       "Ostravine.exe: has no FileVersion in a Chinese (PRC) Unicode version table"},
  };
  const fs::path output = dir_ / "update.htm";
  const std::string served = "update_version=1,0,0,3\r\n";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    WriteFile(output, served);
    const Outcome refused =
        Run({"manifest", Release("r" + std::to_string(i), c.target, c.files).string(), kUrl, output.string()});
    EXPECT_EQ(refused.status, 1) << c.message;
    EXPECT_EQ(refused.err.rfind("merovast-publish: " + c.message, 0), 0u) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(ReadFile(output), served) << c.message;
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

  const Outcome noFolder = Run({"manifest", (dir_ / "none").string(), kUrl});
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_EQ(noFolder.err, "merovast-publish: " + (dir_ / "none").string() + ": not a folder\n");

  const Outcome unwritable =
      Run({"manifest", Sample("sample").string(), kUrl, (dir_ / "none" / "update.htm").string()});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_EQ(unwritable.err, "merovast-publish: " + (dir_ / "none" / "update.htm").string() + ": cannot be written\n");
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
    return Run({"manifest", root.string(), kUrl});
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
                                             {"publish", dir_.string(), kUrl}}) {
    const Outcome wrong = Run(args);
    EXPECT_EQ(wrong.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, help.out) << ::testing::PrintToString(args);
  }
}

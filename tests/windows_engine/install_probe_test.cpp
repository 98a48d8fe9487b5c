// The probe from the updater's point of view: a copy of a reporting program placed beside
// each kind of target says what it sees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "wine_harness.hpp"

namespace {

struct Seen {
  std::string folder;
  std::string size;
  std::string version;
};

// The reporting program, named by its Linux path; Wine sees the Linux root as Z:.
std::wstring ProbeExe() {
  const char* path = std::getenv("PROBE_REPORT_EXE");
  if (path == nullptr) throw std::runtime_error("PROBE_REPORT_EXE is not set");
  std::wstring windows = L"Z:" + harness::Wide(path);
  for (auto& c : windows)
    if (c == L'/') c = L'\\';
  return windows;
}

// Copies the probe into `folder` (created) with `target` beside it as Ostravine.exe, runs it.
Seen ProbeIn(const std::wstring& folder, const std::wstring& target) {
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring probe = folder + L"\\Merovast.exe";
  if (!CopyFileW(ProbeExe().c_str(), probe.c_str(), FALSE)) throw std::runtime_error("cannot copy the probe");
  if (!target.empty() && !CopyFileW(target.c_str(), (folder + L"\\Ostravine.exe").c_str(), FALSE))
    throw std::runtime_error("cannot copy the target");
  EXPECT_EQ(harness::Run(harness::Quoted(probe), 20000), 0u);
  const std::string report = harness::ReadBytes(folder + L"\\probe.txt");
  const auto first = report.find('\n');
  const auto second = report.find('\n', first + 1);
  return {report.substr(0, first), report.substr(first + 1, second - first - 1),
          report.substr(second + 1, report.size() - second - 2)};
}

std::string SizeOf(const std::wstring& file) { return std::to_string(harness::ReadBytes(file).size()); }

}  // namespace

TEST(InstallProbe, ReadsTheChineseFileVersionOfTheTargetBesideIt) {
  const std::wstring dir = harness::ScratchDir();
  const std::wstring zh = harness::StandinExe(L"standin-zh");
  Seen seen = ProbeIn(dir + L"\\zh", zh);
  EXPECT_EQ(seen.folder, harness::Ansi(dir + L"\\zh"));
  EXPECT_EQ(seen.size, SizeOf(zh));
  EXPECT_EQ(seen.version, "1,0,0,3");

  // Only another language's table, or no version block at all: no version.
  seen = ProbeIn(dir + L"\\en", harness::StandinExe(L"standin-en"));
  EXPECT_EQ(seen.size, SizeOf(harness::StandinExe(L"standin-en")));
  EXPECT_EQ(seen.version, "");
  seen = ProbeIn(dir + L"\\bare", harness::StandinExe(L"standin-bare"));
  EXPECT_EQ(seen.version, "");

  seen = ProbeIn(dir + L"\\none", L"");
  EXPECT_EQ(seen.size, "-1");
  EXPECT_EQ(seen.version, "");
}

TEST(InstallProbe, ARunningTargetCannotBeSized) {
  const std::wstring dir = harness::ScratchDir() + L"\\app";
  ProbeIn(dir, harness::StandinExe(L"standin-zh"));
  harness::Process target(harness::Quoted(dir + L"\\Ostravine.exe") + L" --hold 30");
  ASSERT_TRUE(harness::WaitForFile(dir + L"\\Ostravine.exe.ran", 10000));
  EXPECT_EQ(harness::Run(harness::Quoted(dir + L"\\Merovast.exe"), 20000), 0u);
  const std::string report = harness::ReadBytes(dir + L"\\probe.txt");
  EXPECT_EQ(report.substr(report.find('\n') + 1, 3), "-1\n");
}

TEST(InstallProbe, AFolderEndingInATrailByteThatLooksLikeABackslash) {
  // U+4E57 is 81 5C in code page 936: its second byte has the value of a backslash.
  const std::wstring dir = harness::ScratchDir() + L"\\\u4E57";
  const Seen seen = ProbeIn(dir, harness::StandinExe(L"standin-zh"));
  EXPECT_EQ(seen.folder, harness::Ansi(dir));
  EXPECT_EQ(seen.folder.substr(seen.folder.size() - 2), "\x81\x5C");
  EXPECT_EQ(seen.version, "1,0,0,3");
}

// Faults around one update, a row each: a run killed, a server that trickles or never answers,
// a cache in front of the server. Every row ends with the same checks of what a person finds:
// whether the target started, the install folder's files (an old file unchanged or replaced
// whole, no temporary file) and nothing changed beside the install folder.
#include <algorithm>
#include <stdexcept>

#include "updater_session.hpp"

using testing::ElementsAre;
using testing::Field;
using testing::IsEmpty;
using testing::SizeIs;

namespace {

constexpr std::size_t kLargeSize = 8u << 20;
// Bytes of the large file that arrive before the kill: whole reads of 5000 bytes, as Wine's
// InternetReadFile waits for all the bytes a read asks for.
constexpr std::size_t kSentBeforeStall = 3'000'000;
// The updater writes what arrives in pieces of 1 MiB: two of them are on the disk at the kill.
constexpr std::size_t kOnDiskWhenKilled = 2u << 20;
constexpr std::size_t kTrickleSize = 64u << 10;
constexpr double kTrickleRate = 16 << 10;  // bytes a second
constexpr DWORD kRunMs = 60000;            // for a run that downloads megabytes or trickles
const char kManifestRequest[] = "GET /update_go/update.htm HTTP/1.1";

// Bytes by path below the install folder; the manifest lists the target last, as
// merovast-publish does.
struct Release {
  std::string version;
  int madeDaysAgo;  // the files' modification time
  Tree files;
};

Release MakeRelease(const std::string& version, int madeDaysAgo, const wchar_t* target, std::size_t shift) {
  auto bytes = [shift](std::size_t size) { return harness::PatternBytes(size + shift).substr(shift); };
  return {version,
          madeDaysAgo,
          {{L"data\\large.pak", bytes(kLargeSize)},
           {L"data\\small.pak", bytes(kTrickleSize)},
           {L"Ostravine.exe", harness::ReadBytes(harness::StandinExe(target))}}};
}

// What differs between two trees: "missing P", "changed P", "new P".
std::vector<std::wstring> Differences(const Tree& expected, const Tree& actual) {
  std::vector<std::wstring> differences;
  for (const auto& [path, bytes] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      differences.push_back(L"missing " + path);
    } else if (found->second != bytes) {
      differences.push_back(L"changed " + path);
    }
  }
  for (const auto& entry : actual) {
    if (!expected.contains(entry.first)) differences.push_back(L"new " + entry.first);
  }
  return differences;
}

// Sets a file's modification time `days` back, as a release's files carry the time they were
// made; a cache keeps a file fresh for a fifth of its age.
void Backdate(const std::wstring& path, int days) {
  const harness::Handle file(
      CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000;
  const FILETIME then{time.LowPart, time.HighPart};
  if (!file || !SetFileTime(file.get(), nullptr, nullptr, &then)) throw std::runtime_error("cannot backdate");
}

bool WaitForSize(const std::wstring& path, std::size_t size, DWORD limitMs) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  for (WIN32_FILE_ATTRIBUTE_DATA data{};; Sleep(10)) {
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow >= size) return true;
    if (GetTickCount64() >= deadline) return false;
  }
}

class FaultRun;

struct Fault {
  const char* name;
  void (*drive)(FaultRun&);
  enum Files { kOld, kFirst, kNext } files;  // what the install folder holds at the end
  bool targetStarts;                         // whether the last run started the target
};

// An installation of 1,0,0,3 with an old data file; release 1,0,0,4 on the server.
class FaultRun : public testing::TestWithParam<Fault> {
 public:
  void SetUp() override {
    CreateDirectoryW(install.Path(L"data").c_str(), nullptr);
    harness::WriteBytes(install.Path(L"data\\large.pak"), "large.pak of 1,0,0,3");
    Publish(first);
    before = ReadTree(install.Dir());
    beside = Beside();
  }

  // The release's files in place below www/release and its manifest swapped in.
  void Publish(const Release& release) const {
    for (const auto& [path, bytes] : release.files) {
      install.Publish(L"release\\" + path, bytes);
      Backdate(Served(path), release.madeDaysAgo);
    }
    install.PublishManifest(
        Manifest(release.version, static_cast<long long>(release.files.at(L"Ostravine.exe").size()),
                 {{"large.pak", "/data", "\\data"}, {"small.pak", "/data", "\\data"}, {"Ostravine.exe", "", ""}}));
  }
  std::wstring Served(const std::wstring& path) const { return install.Www() + L"\\release\\" + path; }

  // A run that shows its window and ends by itself: a box would keep it waiting.
  void RunToEnd() const {
    harness::Process updater = install.StartUpdater();
    EXPECT_NE(probe::WaitForProgressWindow(kWindowMs), nullptr);
    EXPECT_TRUE(Exited(updater, kRunMs)) << "the updater did not end by itself";
  }

  Tree Installed() const {
    Tree tree = ReadTree(install.Dir());
    tree.erase(L"Ostravine.exe.ran");
    return tree;
  }
  Tree Expected(Fault::Files files) const {
    Tree tree = before;
    if (files != Fault::kOld) {
      for (const auto& [path, bytes] : (files == Fault::kFirst ? first : next).files) tree[path] = bytes;
    }
    return tree;
  }
  // Everything below the install folder's parent but the install folder.
  Tree Beside() const {
    Tree tree = ReadTree(install.Parent());
    std::erase_if(tree, [](const auto& entry) { return entry.first.starts_with(L"install\\"); });
    return tree;
  }

  Installation install;
  Release first = MakeRelease("1,0,0,4", 2, L"standin-bare", 0);
  Release next = MakeRelease("1,0,0,5", 1, L"standin-en", 1);
  Tree before, beside;
};

void KilledInTheMiddleOfALargeDownload(FaultRun& run) {
  harness::ServeFaults(run.install.Www());
  harness::SetReply("/release/data/large.pak",
                    {.bodyFile = run.Served(L"data\\large.pak"), .sendBytes = kSentBeforeStall, .stallSeconds = 120});
  const std::wstring partial = run.install.Path(L"data\\large.pak.download");
  {
    harness::Process updater = run.install.StartUpdater();
    EXPECT_NE(probe::WaitForProgressWindow(kWindowMs), nullptr);
    ASSERT_TRUE(WaitForSize(partial, kOnDiskWhenKilled, kRunMs));
  }  // killed here
  Tree killed = run.before;
  const std::size_t arrived = harness::ReadBytes(partial).size();
  EXPECT_GE(arrived, kOnDiskWhenKilled);
  killed[L"data\\large.pak.download"] = run.first.files.at(L"data\\large.pak").substr(0, arrived);
  EXPECT_THAT(Differences(killed, run.Installed()), IsEmpty()) << "the old file is intact, the arrived bytes beside it";
  EXPECT_FALSE(run.install.TargetStarted(kQuietMs));

  harness::ServeFaults(run.install.Www());  // the whole file this time
  run.RunToEnd();
}

void TrickleThatCompletes(FaultRun& run) {
  harness::ServeFaults(run.install.Www());
  harness::SetReply("/release/data/small.pak",
                    {.bodyFile = run.Served(L"data\\small.pak"), .bytesPerSecond = kTrickleRate});
  run.RunToEnd();
}

void ServerThatAcceptsAndNeverAnswers(FaultRun& run) {
  harness::ServeFaults(run.install.Www());
  harness::SetReply("/update_go/update.htm", {.delaySeconds = 3600});
  harness::Process updater = run.install.StartUpdater();
  ASSERT_NE(probe::WaitForProgressWindow(kWindowMs), nullptr);
  Sleep(5000);
  EXPECT_NE(probe::FindProgressWindow(), nullptr) << "the progress window is up";
  EXPECT_EQ(probe::FindDialog(kTitle), nullptr);
  EXPECT_EQ(probe::FindDialog(L"failed"), nullptr);
  EXPECT_THAT(Differences(run.before, run.Installed()), IsEmpty());
  EXPECT_THAT(harness::Requests(), ElementsAre(Field(&harness::Request::line, kManifestRequest)));
}  // killed here

void ReleaseReplacedBehindACache(FaultRun& run) {
  const std::wstring cache = harness::ScratchDir() + L"\\cache";
  CreateDirectoryW(cache.c_str(), nullptr);
  harness::ServeThroughCache(run.install.Www(), cache);
  run.RunToEnd();
  EXPECT_THAT(Differences(run.Expected(Fault::kFirst), run.Installed()), IsEmpty());

  run.Publish(run.next);  // the same addresses with new bytes, and the manifest swapped
  EXPECT_TRUE(harness::PlainGet("/release/data/large.pak") == run.first.files.at(L"data\\large.pak"))
      << "the cache no longer holds the old release: the row proves nothing";
  run.RunToEnd();
  EXPECT_THAT(harness::Requests(), SizeIs(8)) << "each of the updater's requests reaches the server";
}

const Fault kFaults[] = {
    {"KilledInTheMiddleOfALargeDownload", &KilledInTheMiddleOfALargeDownload, Fault::kFirst, true},
    {"TrickleOf64KiBAt16KiBASecond", &TrickleThatCompletes, Fault::kFirst, true},
    {"ServerThatAcceptsAndNeverAnswers", &ServerThatAcceptsAndNeverAnswers, Fault::kOld, false},
    {"ReleaseReplacedBehindACache", &ReleaseReplacedBehindACache, Fault::kNext, true},
    // A build with a public key adds its rows here: a file swapped with another release's, and
    // an old signed manifest replayed.
};

TEST_P(FaultRun, EndsAsTheRowSays) {
  const Fault& fault = GetParam();
  fault.drive(*this);
  if (HasFatalFailure()) return;
  EXPECT_EQ(install.TargetStarted(fault.targetStarts ? kWindowMs : kQuietMs), fault.targetStarts);
  EXPECT_THAT(Differences(Expected(fault.files), Installed()), IsEmpty())
      << "each file is the old one or the release's, and no temporary file is left";
  EXPECT_THAT(Differences(beside, Beside()), IsEmpty()) << "nothing changes beside the install folder";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRun, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& row) { return std::string(row.param.name); });

}  // namespace

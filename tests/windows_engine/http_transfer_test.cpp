// The two downloads against real servers: what lands in the buffer or on disk, and what the
// server saw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <vector>

#include "file_error.hpp"
#include "crypto.hpp"
#include "windows/http_transfer.hpp"
#include "windows/local_file_check.hpp"
#include "windows/replacing_file_sink.hpp"
#include "download/pack_run.hpp"
#include "windows/seeded_download.hpp"
#include "windows/windows_update_platform.hpp"
#include "wine_harness.hpp"

using harness::Ansi;
using harness::Reply;

namespace {

constexpr std::size_t kCapacity = 5000;
const std::string kBase = "http://127.0.0.1:8081";

struct Fetched {
  int result;
  std::string buffer;  // all of it, the byte kept free for a terminator included
  std::string text() const { return buffer.c_str(); }
};

Fetched Fetch(const std::string& path) {
  std::vector<char> buffer(kCapacity + 1, '\0');
  const int result = FetchText(kBase + path, buffer.data(), kCapacity);
  return {result, std::string(buffer.data(), buffer.size())};
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class TransferTest : public testing::Test {
 protected:
  std::wstring dir_ = harness::ScratchDir();
  std::wstring www_ = dir_ + L"\\www";
  std::wstring dest_ = dir_ + L"\\Ostravine.exe";
  std::string old_ = "old installed bytes";

  void SetUp() override {
    CreateDirectoryW(www_.c_str(), nullptr);
    harness::WriteBytes(dest_, old_);
  }
  int Download(const std::string& path) { return DownloadToFile(kBase + path, Ansi(dest_)); }
  void ExpectOldFileIntact() {
    EXPECT_EQ(harness::ReadBytes(dest_), old_);
    EXPECT_FALSE(Exists(dest_ + L".download")) << "no temporary file may stay behind";
  }
};

}  // namespace

TEST_F(TransferTest, BodiesAreStoredWholeUpToTheCapacity) {
  const std::string exact = harness::PatternBytes(kCapacity);
  const std::string large = harness::PatternBytes(12000);
  harness::WriteBytes(www_ + L"\\exact.htm", exact);
  harness::WriteBytes(www_ + L"\\large.htm", large);
  harness::WriteBytes(www_ + L"\\large.bin", large);
  harness::ServeWithNginx(www_);

  Fetched fetched = Fetch("/exact.htm");
  EXPECT_EQ(fetched.result, 1);
  EXPECT_TRUE(fetched.buffer == exact + '\0') << "a body of exactly the capacity is kept whole";
  fetched = Fetch("/large.htm");
  EXPECT_EQ(fetched.result, 1);
  EXPECT_TRUE(fetched.buffer == large.substr(0, kCapacity) + '\0') << "only a prefix of a longer body is kept";

  EXPECT_EQ(Download("/large.bin"), 1);
  EXPECT_TRUE(harness::ReadBytes(dest_) == large);
  EXPECT_FALSE(Exists(dest_ + L".download"));
}

TEST_F(TransferTest, AnEmptyBodyIsAnEmptyResult) {
  harness::ServeFaults();
  harness::SetReply("/empty", Reply{});
  EXPECT_EQ(Fetch("/empty").result, 1);
  EXPECT_EQ(Download("/empty"), 1);
  EXPECT_EQ(harness::ReadBytes(dest_), "");
}

TEST_F(TransferTest, AnErrorPageIsAFailureAndNeverLandsOnDisk) {
  harness::ServeFaults();
  harness::SetReply("/missing", Reply{.status = 404, .body = "<html>404 Not Found</html>"});
  harness::SetReply("/broken", Reply{.status = 500, .body = "<html>oops</html>"});
  for (const char* path : {"/missing", "/broken"}) {
    const Fetched fetched = Fetch(path);
    EXPECT_EQ(fetched.result, 0) << path;
    EXPECT_EQ(fetched.text(), "") << "an error page never becomes the manifest";
    EXPECT_EQ(Download(path), 0) << path;
    ExpectOldFileIntact();
  }
  const std::wstring fresh = dir_ + L"\\new.dll";
  EXPECT_EQ(DownloadToFile(kBase + "/missing", Ansi(fresh)), 0);
  EXPECT_FALSE(Exists(fresh)) << "nothing appears at a new destination";
}

TEST_F(TransferTest, ABodyCutShortLeavesTheOldFileExactlyAsItWas) {
  const std::string body = harness::PatternBytes(20000);
  harness::ServeFaults();
  harness::SetReply("/short", Reply{.body = body.substr(0, 4000), .contentLength = 10000});
  harness::SetReply("/reset", Reply{.body = body, .sendBytes = 6000, .reset = true});
  for (const char* path : {"/short", "/reset"}) {
    EXPECT_EQ(Download(path), 0) << path;
    ExpectOldFileIntact();
  }
  const std::wstring fresh = dir_ + L"\\new.dll";
  EXPECT_EQ(DownloadToFile(kBase + "/short", Ansi(fresh)), 0);
  EXPECT_FALSE(Exists(fresh));

  // A short manifest fails too, and keeps the bytes that did arrive.
  harness::SetReply("/short.htm", Reply{.body = "update_version=1\r\n", .contentLength = 100});
  const Fetched fetched = Fetch("/short.htm");
  EXPECT_EQ(fetched.result, 0);
  EXPECT_EQ(fetched.text(), "update_version=1\r\n");
}

TEST_F(TransferTest, ADestinationThatCannotBeWrittenFailsBeforeTheBodyIsRead) {
  harness::ServeFaults();
  // The body would take a minute to finish: a routine that read it would not return in time.
  harness::SetReply("/slow", Reply{.body = "new", .contentLength = 1000, .stallSeconds = 60});

  const std::wstring ready = dir_ + L"\\held";
  harness::Process holder(harness::Quoted(harness::StandinExe(L"holdfile")) + L" " + harness::Quoted(dest_) +
                          L" --seconds 50 --ready " + harness::Quoted(ready));
  ASSERT_TRUE(harness::WaitForFile(ready, 10000));
  const DWORD start = GetTickCount();
  EXPECT_EQ(Download("/slow"), 0);
  EXPECT_LT(GetTickCount() - start, 30000u);
  EXPECT_EQ(harness::Requests().size(), 1u);

  const std::wstring locked = dir_ + L"\\locked.dll";
  harness::WriteBytes(locked, old_);
  harness::MakeImmutable(locked);
  EXPECT_EQ(DownloadToFile(kBase + "/slow", Ansi(locked)), 0);
  EXPECT_EQ(harness::ReadBytes(locked), old_);
  EXPECT_FALSE(Exists(locked + L".download"));
}

TEST_F(TransferTest, NothingListeningIsAFailure) {
  harness::ServeNothing();
  EXPECT_EQ(Fetch("/update_go/update.htm").result, 0);
  EXPECT_EQ(Download("/Ostravine.exe"), 0);
  ExpectOldFileIntact();
}

TEST_F(TransferTest, EverySessionIntroducesItselfWithItsOwnAgentName) {
  harness::WriteBytes(www_ + L"\\a", "a");
  harness::ServeWithNginx(www_);
  EXPECT_EQ(Fetch("/a").result, 1);
  Sleep(20);
  EXPECT_EQ(Download("/a"), 1);
  const auto requests = harness::Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::regex agent("^Agent-?[0-9]+$");
  EXPECT_TRUE(std::regex_match(requests[0].userAgent, agent)) << requests[0].userAgent;
  EXPECT_TRUE(std::regex_match(requests[1].userAgent, agent)) << requests[1].userAgent;
  EXPECT_NE(requests[0].userAgent, requests[1].userAgent);
}

TEST_F(TransferTest, AFullDiskRaisesTheFileErrorAndKeepsTheOldFile) {
  // The disk fills at the last write, or in the middle of a body of several 1 MiB pieces.
  for (const auto& [size, body] : {std::pair{"64k", std::size_t{200000}}, std::pair{"2m", std::size_t{6 << 20}}}) {
    const std::wstring disk = dir_ + L"\\disk-" + harness::Wide(size);
    CreateDirectoryW(disk.c_str(), nullptr);
    harness::MountSmallDisk(disk, size);
    const std::wstring target = disk + L"\\big.pak";
    harness::WriteBytes(target, old_);
    harness::WriteBytes(www_ + L"\\big.pak", harness::PatternBytes(body));
    harness::ServeWithNginx(www_);
    try {
      DownloadToFile(kBase + "/big.pak", Ansi(target));
      ADD_FAILURE() << "a full disk must raise the file error";
    } catch (const FileError& error) {
      EXPECT_EQ(error.cause(), FileError::kDiskFull);
      EXPECT_EQ(error.path(), Ansi(target));
    }
    EXPECT_EQ(harness::ReadBytes(target), old_);
    EXPECT_FALSE(Exists(target + L".download"));
  }
}

namespace {

// SHA-256 as CNG computes it, checked against the standard's own example first.
FileDigest DigestOf(const std::string& bytes) {
  return {Sha256Of(bytes).value(), static_cast<std::int32_t>(bytes.size())};
}

}  // namespace

TEST_F(TransferTest, AnExpectedHashAndSizeDecideWhetherABodyIsKept) {
  EXPECT_EQ(HexOf(DigestOf("abc").sha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Within one of the 1 MiB pieces that reach the disk at a time, and across several.
  std::string body;
  for (const std::size_t size : {std::size_t{30000}, std::size_t{6 << 20} + 4321}) {
    harness::WriteBytes(dest_, old_);
    body = harness::PatternBytes(size);
    harness::WriteBytes(www_ + L"\\new.bin", body);
    harness::ServeWithNginx(www_);
    std::string changed = body;
    changed[12345] ^= 1;
    FileDigest shorter = DigestOf(body);
    shorter.size -= 1;
    for (const FileDigest& wrong : {DigestOf(changed), shorter, DigestOf(body + "x")}) {
      EXPECT_EQ(DownloadToFile(kBase + "/new.bin", Ansi(dest_), &wrong), 0);
      ExpectOldFileIntact();
    }
    const FileDigest right = DigestOf(body);
    EXPECT_EQ(DownloadToFile(kBase + "/new.bin", Ansi(dest_), &right), 1);
    EXPECT_TRUE(harness::ReadBytes(dest_) == body);
  }

  // A body longer than stated ends the transfer as soon as it shows, not when the server stops.
  harness::ServeFaults();
  harness::SetReply("/endless", Reply{.body = body.substr(0, 30000), .contentLength = 2000000000, .stallSeconds = 60});
  const FileDigest small = DigestOf(body.substr(0, 1000));
  const DWORD start = GetTickCount();
  EXPECT_EQ(DownloadToFile(kBase + "/endless", Ansi(dest_), &small), 0);
  EXPECT_LT(GetTickCount() - start, 30000u);
  EXPECT_TRUE(harness::ReadBytes(dest_) == body) << "the file kept from before is untouched";
  EXPECT_FALSE(Exists(dest_ + L".download"));
}

TEST_F(TransferTest, AFileIsCurrentOnlyWithExactlyTheExpectedBytes) {
  const FileDigest old = DigestOf(old_);
  EXPECT_TRUE(IsFileCurrent(Ansi(dest_), old));
  std::string changed = old_;
  changed.back() ^= 1;
  FileDigest longer = old;
  longer.size += 1;
  for (const FileDigest& other : {DigestOf(changed), longer}) EXPECT_FALSE(IsFileCurrent(Ansi(dest_), other));
  EXPECT_FALSE(IsFileCurrent(Ansi(dir_ + L"\\absent"), old));
  EXPECT_FALSE(IsFileCurrent(Ansi(www_), old)) << "a folder at the path";

  {
    // A log the application keeps open for writing, letting others read and write it, is current.
    const std::wstring logReady = dir_ + L"\\log-held";
    harness::Process logger(harness::Quoted(harness::StandinExe(L"holdfile")) + L" " + harness::Quoted(dest_) +
                            L" --seconds 20 --share-write 1 --ready " + harness::Quoted(logReady));
    ASSERT_TRUE(harness::WaitForFile(logReady, 10000));
    EXPECT_TRUE(IsFileCurrent(Ansi(dest_), old));
  }

  const std::wstring ready = dir_ + L"\\held";
  harness::Process holder(harness::Quoted(harness::StandinExe(L"holdfile")) + L" " + harness::Quoted(dest_) +
                          L" --seconds 20 --ready " + harness::Quoted(ready));
  ASSERT_TRUE(harness::WaitForFile(ready, 10000));
  EXPECT_FALSE(IsFileCurrent(Ansi(dest_), old)) << "a file held without sharing cannot be read";
}

TEST_F(TransferTest, AnExactFetchKeepsOnlyABodyOfExactlyTheStatedSize) {
  const std::string body = harness::PatternBytes(23456);
  harness::ServeFaults();
  harness::SetReply("/index", Reply{.body = body});
  harness::SetReply("/missing", Reply{.status = 404, .body = body});
  harness::SetReply("/short", Reply{.body = body.substr(0, 4000), .contentLength = 23456});
  // A body longer than stated ends the transfer as soon as it shows, not when the server stops.
  harness::SetReply("/endless", Reply{.body = body + body, .contentLength = 2000000000, .stallSeconds = 60});
  std::string got;
  EXPECT_EQ(FetchExact(kBase + "/index", body.size(), got), 1);
  EXPECT_TRUE(got == body);
  for (const auto& [path, size] :
       {std::pair{"/index", body.size() - 1}, std::pair{"/index", body.size() + 1}, std::pair{"/index", std::size_t{0}},
        std::pair{"/missing", body.size()}, std::pair{"/short", body.size()}}) {
    EXPECT_EQ(FetchExact(kBase + path, size, got), 0) << path << " " << size;
  }
  const DWORD start = GetTickCount();
  EXPECT_EQ(FetchExact(kBase + "/endless", body.size(), got), 0);
  EXPECT_LT(GetTickCount() - start, 30000u);
}

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

BlockMap MapOf(const std::string& bytes) {
  BlockMapBuilder builder;
  builder.Add(bytes.data(), bytes.size());
  return *builder.Finish();
}

// The Range headers of the requests since the last Serve... call; "-" for a request without one.
std::vector<std::string> RangesAsked() {
  std::vector<std::string> ranges;
  for (const harness::Request& request : harness::Requests())
    ranges.push_back(request.range.empty() ? "-" : request.range);
  return ranges;
}

// Downloads `url` to `path` as the update run does: the engine's plan, carried out by this side.
// `map` is handed to the planner when it asks for it; `asked` counts the asks.
int SeededDownload(const std::string& url, const std::string& path, const FileDigest& digest, const BlockMap* map,
                   int& asked) {
  const ServedObject source{url, 0, static_cast<std::uint64_t>(digest.size)};
  FileToFetch file{source, &digest, map != nullptr, FindSeeds(path)};
  std::unique_ptr<Replacement> seeds;
  for (;;) {
    const DownloadPlan plan = PlanDownload(file);
    switch (plan.next) {
      case DownloadPlan::Next::kWhole: return DownloadToFile(url, path, &digest);
      case DownloadPlan::Next::kOpenSeeds:
        seeds = OpenSeeds(path, digest);
        if (!seeds) return 0;
        file.seeds = seeds.get();
        break;
      case DownloadPlan::Next::kFetchMap:
        ++asked;
        file.mapFetched = true;
        file.map = map;
        break;
      default: return CarryOut(plan, source, *seeds);
    }
  }
}

}  // namespace

TEST_F(TransferTest, AFileWithAMapTakesWhatTheOldFileHoldsAndRangesOfTheRest) {
  // The new file: one byte inserted near the start, 64 KiB overwritten in the middle.
  const std::string old = RandomBytes(std::size_t{3} << 20, 5);
  std::string body = old.substr(0, 1000) + "+" + old.substr(1000);
  body.replace(std::size_t{3} << 19, 65536, std::string(65536, 'n'));
  harness::WriteBytes(www_ + L"\\new.bin", body);
  const FileDigest digest = DigestOf(body);
  const BlockMap map = MapOf(body);
  // A map of other bytes, whose blocks the old file holds: only the final hash tells.
  const BlockMap otherMap = MapOf(old.substr(0, 1000) + "+" + old.substr(1000));

  const std::string first = "bytes=0-16383";
  const std::string middle = "bytes=1572864-1638399";
  struct Row {
    const char* fault;  // how the server answers ranges
    const BlockMap* map;
    int status;  // of the whole download, when there is one
    std::vector<std::string> ranges;
    bool installed;
  };
  const std::vector<Row> rows{
      {"", &map, 200, {first, middle}, true},   {"whole", &map, 200, {first}, true},
      {"416", &map, 200, {first, "-"}, true},   {"shift", &map, 200, {first, "-"}, true},
      {"short", &map, 200, {first, "-"}, true}, {"", &otherMap, 200, {first, "-"}, true},
      {"416", &map, 500, {first, "-"}, false},
  };
  for (const Row& row : rows) {
    harness::WriteBytes(dest_, old);
    harness::ServeFaults(www_);
    if (*row.fault) harness::SetRangeFault("/new.bin", row.fault);
    if (row.status != 200) harness::SetReply("/new.bin", Reply{.status = row.status, .body = "oops"});
    int asked = 0;
    EXPECT_EQ(SeededDownload(kBase + "/new.bin", Ansi(dest_), digest, row.map, asked), row.installed ? 1 : 0)
        << row.fault;
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(harness::ReadBytes(dest_) == (row.installed ? body : old)) << row.fault;
    EXPECT_EQ(RangesAsked(), row.ranges) << row.fault;
    EXPECT_FALSE(Exists(dest_ + L".download"));
    EXPECT_FALSE(Exists(dest_ + L".seed"));
  }
}

TEST_F(TransferTest, AKilledRunsTemporaryFileIsResumedOrSeedsTheNextDownload) {
  const std::string body = RandomBytes(std::size_t{2} << 20, 6);
  harness::WriteBytes(www_ + L"\\new.bin", body);
  const FileDigest digest = DigestOf(body);
  std::string wrongPrefix = body.substr(0, 700000);
  wrongPrefix[5] ^= 1;
  struct Row {
    const char* what;
    std::string left;  // in NAME.download when the run starts
    std::vector<std::string> ranges;
  };
  const std::vector<Row> rows{
      {"a prefix: the rest in one range", body.substr(0, 700000), {"bytes=700000-2097151"}},
      {"the whole file: verified and used", body, {}},
      {"longer than the file: discarded", body + "x", {"-"}},
      {"a prefix with a wrong byte: whole, once", wrongPrefix, {"bytes=700000-2097151", "-"}},
  };
  for (const Row& row : rows) {
    harness::WriteBytes(dest_, old_);
    harness::WriteBytes(dest_ + L".download", row.left);
    harness::ServeFaults(www_);
    int asked = 0;
    EXPECT_EQ(SeededDownload(kBase + "/new.bin", Ansi(dest_), digest, nullptr, asked), 1) << row.what;
    EXPECT_TRUE(harness::ReadBytes(dest_) == body) << row.what;
    EXPECT_EQ(RangesAsked(), row.ranges) << row.what;
    EXPECT_FALSE(Exists(dest_ + L".download")) << row.what;
    EXPECT_FALSE(Exists(dest_ + L".seed")) << "the seed goes once the file is in place";
  }

  // A failed download keeps the seed for the next run, and leaves no temporary file.
  harness::WriteBytes(dest_, old_);
  harness::WriteBytes(dest_ + L".download", body.substr(0, 700000));
  harness::ServeFaults(www_);
  harness::SetRangeFault("/new.bin", "416");
  harness::SetReply("/new.bin", Reply{.status = 404, .body = "gone"});
  int asked = 0;
  EXPECT_EQ(SeededDownload(kBase + "/new.bin", Ansi(dest_), digest, nullptr, asked), 0);
  ExpectOldFileIntact();
  EXPECT_TRUE(harness::ReadBytes(dest_ + L".seed") == body.substr(0, 700000));
}

namespace {

// The run's effects as the update run has them: each file's new file beside it, nothing else.
class FilesOfARun : public PackRunTarget {
 public:
  FilesOfARun(std::vector<std::string> paths, std::vector<FileDigest> digests)
      : paths_(std::move(paths)), digests_(std::move(digests)) {}
  std::unique_ptr<Replacement> Open(const PackedFile& file) override {
    return OpenSeeds(paths_[static_cast<std::size_t>(file.entry)], digests_[static_cast<std::size_t>(file.entry)]);
  }
  void Current(const PackedFile&) override {}
  void Placed(const PackedFile& file) override { placed.push_back(file.entry); }
  std::vector<int> placed;

 private:
  std::vector<std::string> paths_;
  std::vector<FileDigest> digests_;
};

}  // namespace

TEST_F(TransferTest, ARunOverAPackIsOneRangeOrEachFileOnceAsItsOwnRange) {
  // Three files in a pack, with bytes of no file before, between and after them.
  const std::vector<std::string> bytes{RandomBytes(70000, 7), RandomBytes(12345, 8), RandomBytes(200000, 9)};
  const std::string pack = std::string(500, '-') + bytes[0] + bytes[1] + std::string(1000, '-') + bytes[2] + "--";
  const std::vector<std::uint64_t> offsets{500, 70500, 83845};
  const std::string run = "bytes=500-283844";
  const std::vector<std::string> own{"bytes=500-70499", "bytes=70500-82844", "bytes=83845-283844"};
  std::vector<std::string> paths;
  std::vector<FileDigest> digests;
  std::vector<PackedFile> files;
  for (std::size_t i = 0; i < 3; ++i) {
    paths.push_back(Ansi(dir_) + "\\f" + std::to_string(i));
    digests.push_back(DigestOf(bytes[i]));
    files.push_back({static_cast<int>(i), offsets[i], bytes[i].size(), false});
  }
  struct Row {
    const char* fault;  // how the server answers ranges
    bool once;          // only the run's own request meets the fault
    std::vector<std::string> ranges;
    std::vector<int> placed;
    std::string served = {};  // instead of the pack
  };
  std::string tampered = pack;
  tampered[70600] ^= 1;
  const std::vector<Row> rows{
      {"", false, {run}, {0, 1, 2}},
      {"whole", false, {run}, {0, 1, 2}},
      {"416", true, {run, own[0], own[1], own[2]}, {0, 1, 2}},
      {"shift", true, {run, own[0], own[1], own[2]}, {0, 1, 2}},
      {"short", true, {run, own[2]}, {0, 1, 2}},
      {"416", false, {run, own[0]}, {}},
      {"", false, {run}, {0}, tampered},
  };
  WindowsUpdatePlatform platform(nullptr, "pack");
  for (const Row& row : rows) {
    for (const std::string& path : paths) harness::WriteBytes(harness::Wide(path), old_);
    harness::WriteBytes(www_ + L"\\pack", row.served.empty() ? pack : row.served);
    harness::ServeFaults(www_);
    if (*row.fault) harness::SetRangeFault("/pack", row.fault, row.once);
    FilesOfARun target(paths, digests);
    int failed = -1;
    const bool all = CarryOutPackRun(platform, {kBase + "/pack", 0, pack.size()}, files, target, failed);
    EXPECT_EQ(all, row.placed.size() == 3) << row.fault;
    EXPECT_EQ(target.placed, row.placed) << row.fault;
    EXPECT_EQ(RangesAsked(), row.ranges) << row.fault;
    for (std::size_t i = 0; i < 3; ++i) {
      const bool placed = std::find(row.placed.begin(), row.placed.end(), static_cast<int>(i)) != row.placed.end();
      EXPECT_TRUE(harness::ReadBytes(harness::Wide(paths[i])) == (placed ? bytes[i] : old_)) << row.fault << i;
      EXPECT_FALSE(Exists(harness::Wide(paths[i]) + L".download")) << row.fault << i;
    }
  }
}

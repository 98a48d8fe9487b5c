// The harness end to end: WinINet reaches each kind of server the tests choose, and the
// stand-ins and the holder behave as the transfer, probe and updater tests assume.
#include <windows.h>
#include <wininet.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "wine_harness.hpp"

using testing::ElementsAre;
using testing::Field;

namespace {

class Internet {
 public:
  explicit Internet(HINTERNET handle) : handle_(handle) {}
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  ~Internet() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

struct Download {
  bool opened = false;
  DWORD openError = 0;
  DWORD status = 0;
  std::string body;
};

// The updater's way of asking: its agent name pattern, extra header and no-cache flags.
Download Get(const std::string& url, const std::string& agent = "Agent4242") {
  Download result;
  Internet session(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0));
  if (session.get() == nullptr) return result;
  const char headers[] = "Accept: */*\r\n\r\n";
  Internet request(InternetOpenUrlA(session.get(), url.c_str(), headers, sizeof headers - 1,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE,
                                    0));
  if (request.get() == nullptr) {
    result.openError = GetLastError();
    return result;
  }
  result.opened = true;
  DWORD size = sizeof result.status;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &result.status, &size, nullptr);
  char chunk[5000];
  DWORD n = 0;
  while (InternetReadFile(request.get(), chunk, sizeof chunk, &n) && n > 0) result.body.append(chunk, n);
  return result;
}

class HarnessServer : public testing::Test {
 protected:
  std::wstring root_ = harness::ScratchDir() + L"\\www";
  void SetUp() override { CreateDirectoryW(root_.c_str(), nullptr); }
};

TEST_F(HarnessServer, NginxServesFileBytesAndLogsTheAgent) {
  CreateDirectoryW((root_ + L"\\release").c_str(), nullptr);
  std::string payload = harness::PatternBytes(12345);
  harness::WriteBytes(root_ + L"\\release\\data.pak", payload);
  harness::ServeWithNginx(root_);

  Download download = Get("http://127.0.0.1:8081/release/data.pak", "Agent90210");
  Download missing = Get("http://127.0.0.1:8081/release/none.pak");

  EXPECT_EQ(download.status, 200u);
  EXPECT_EQ(download.body, payload);
  EXPECT_EQ(missing.status, 404u);
  EXPECT_THAT(harness::Requests(), ElementsAre(AllOf(Field(&harness::Request::line, "GET /release/data.pak HTTP/1.1"),
                                                     Field(&harness::Request::status, "200"),
                                                     Field(&harness::Request::userAgent, "Agent90210")),
                                               Field(&harness::Request::status, "404")));
}

TEST_F(HarnessServer, FaultsModeSendsWhatTheRuleSays) {
  harness::WriteBytes(root_ + L"\\plain.txt", "plain bytes");
  harness::ServeFaults(root_);
  harness::SetReply("/gone", {.status = 404, .body = "<html>gone</html>"});
  harness::SetReply("/short", {.body = std::string(4000, 's'), .contentLength = 10000});
  harness::SetReply("/empty", {});

  EXPECT_EQ(Get("http://127.0.0.1:8081/plain.txt").body, "plain bytes");
  Download gone = Get("http://127.0.0.1:8081/gone");
  EXPECT_EQ(gone.status, 404u);
  EXPECT_EQ(gone.body, "<html>gone</html>");
  // WinINet reports a body cut short as a normal end: only its length tells.
  EXPECT_EQ(Get("http://127.0.0.1:8081/short").body.size(), 4000u);
  Download empty = Get("http://127.0.0.1:8081/empty");
  EXPECT_TRUE(empty.opened);
  EXPECT_EQ(empty.body, "");
  EXPECT_EQ(harness::Requests().size(), 4u);
}

TEST_F(HarnessServer, ResetEndsTheBodyEarly) {
  harness::ServeFaults();
  harness::SetReply("/reset",
                    {.body = harness::PatternBytes(20000), .sendBytes = 6000, .reset = true, .stallSeconds = 0.3});

  EXPECT_LT(Get("http://127.0.0.1:8081/reset").body.size(), 20000u);
}

TEST_F(HarnessServer, DelayedAnswerArrivesLate) {
  harness::ServeFaults();
  harness::SetReply("/late", {.body = "late", .delaySeconds = 1});

  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Get("http://127.0.0.1:8081/late").body, "late");
  EXPECT_GE(GetTickCount64() - start, 900u);
}

TEST_F(HarnessServer, NothingListeningFailsTheOpenAndLogsNothing) {
  harness::ServeNothing();

  Download download = Get("http://127.0.0.1:8081/update_go/update.htm");

  EXPECT_FALSE(download.opened);
  EXPECT_EQ(download.openError, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_TRUE(harness::Requests().empty());
}

TEST_F(HarnessServer, BodyWithoutLengthRunsUntilTheCloseEvenAfterAStall) {
  harness::ServeFaults();
  harness::SetReply("/stream", {.body = harness::PatternBytes(9000), .omitContentLength = true, .stallSeconds = 0.5});

  EXPECT_EQ(Get("http://127.0.0.1:8081/stream").body, harness::PatternBytes(9000));
}

// Wine's WinINet takes a connection closed before any answer for an empty body without a status.
TEST_F(HarnessServer, HangUpWithoutAnswerLooksLikeAnEmptyBodyWithoutStatus) {
  harness::ServeFaults();
  harness::SetReply("/hangup", {.headers = false});

  Download download = Get("http://127.0.0.1:8081/hangup");

  EXPECT_TRUE(download.opened);
  EXPECT_EQ(download.status, 0u);
  EXPECT_EQ(download.body, "");
  ASSERT_EQ(harness::Requests().size(), 1u);
  EXPECT_EQ(harness::Requests()[0].status, "-");
}

TEST_F(HarnessServer, AScenarioThatCannotBeSetUpFailsLoudly) {
  EXPECT_THROW(harness::ServeWithNginx(root_ + L"\\missing"), std::runtime_error);
  EXPECT_THROW(harness::MakeImmutable(root_ + L"\\missing.pak"), std::runtime_error);
}

// --- Stand-ins ---

std::wstring CopyStandin(const wchar_t* standin, const std::wstring& folder) {
  std::wstring target = folder + L"\\Ostravine.exe";
  EXPECT_TRUE(CopyFileW(harness::StandinExe(standin).c_str(), target.c_str(), FALSE));
  return target;
}

std::string FileVersion(const std::wstring& exe, const char* table) {
  std::string path = harness::Ansi(exe);
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
  if (size == 0) return "<no version block>";
  std::string block(size, '\0');
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return "<unreadable>";
  char* value = nullptr;
  UINT length = 0;
  std::string query = std::string("\\StringFileInfo\\") + table + "\\FileVersion";
  if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return "<no entry>";
  return value;
}

TEST(Standin, VersionBlocksHoldTheirTablesOnly) {
  EXPECT_EQ(FileVersion(harness::StandinExe(L"standin-zh"), "080404b0"), "1, 0, 0, 3");
  EXPECT_EQ(FileVersion(harness::StandinExe(L"standin-en"), "080404b0"), "<no entry>");
  EXPECT_EQ(FileVersion(harness::StandinExe(L"standin-en"), "040904b0"), "1, 0, 0, 3");
  EXPECT_EQ(FileVersion(harness::StandinExe(L"standin-bare"), "080404b0"), "<no version block>");
}

TEST(Standin, LeavesItsCommandLineInAMarker) {
  std::wstring target = CopyStandin(L"standin-bare", harness::ScratchDir());

  EXPECT_EQ(harness::Run(harness::Quoted(target) + L" first", 10000), 0u);
  EXPECT_EQ(harness::Run(harness::Quoted(target), 10000), 0u);

  EXPECT_EQ(harness::ReadBytes(target + L".ran"),
            "\"" + harness::Ansi(target) + "\" first\r\n\"" + harness::Ansi(target) + "\"\r\n");
}

bool OpensForReading(const std::wstring& path) {
  harness::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  return static_cast<bool>(file);
}

TEST(Standin, HoldKeepsItsOwnFileFromOthersUntilItEnds) {
  std::wstring target = CopyStandin(L"standin-zh", harness::ScratchDir());
  harness::Process running(harness::Quoted(target) + L" --hold 2");
  ASSERT_TRUE(harness::WaitForFile(target + L".ran", 10000));

  EXPECT_FALSE(OpensForReading(target));
  EXPECT_EQ(running.Wait(10000), std::optional<DWORD>(0));
  EXPECT_TRUE(OpensForReading(target));
}

TEST(Holdfile, HoldsUntilTheReleaseFileAppears) {
  std::wstring folder = harness::ScratchDir();
  std::wstring held = folder + L"\\data.pak";
  harness::WriteBytes(held, "old");
  harness::Process holder(harness::Quoted(harness::StandinExe(L"holdfile")) + L" " + harness::Quoted(held) +
                          L" --seconds 20 --until " + harness::Quoted(folder + L"\\release") + L" --ready " +
                          harness::Quoted(folder + L"\\ready"));
  ASSERT_TRUE(harness::WaitForFile(folder + L"\\ready", 10000));

  harness::Handle writer(
      CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  harness::WriteBytes(folder + L"\\release", "");
  EXPECT_EQ(holder.Wait(5000), std::optional<DWORD>(0));
  EXPECT_TRUE(OpensForReading(held));
}

// --- What the machine gives the tests ---

TEST(Environment, AnsiPathsUseCodePage936EvenWithATrailByteBackslash) {
  ASSERT_EQ(GetACP(), 936u);
  // "乗" is 0x81 0x5C in GBK: its second byte looks like a backslash.
  std::string folder = harness::Ansi(harness::ScratchDir()) + "\\乗";
  ASSERT_EQ(folder.substr(folder.size() - 3), "\\\x81\x5C");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  std::string target = folder + "\\Ostravine.exe";
  ASSERT_TRUE(CopyFileW(harness::StandinExe(L"standin-bare").c_str(), harness::Wide(target).c_str(), FALSE));

  EXPECT_EQ(harness::Run(harness::Quoted(harness::Wide(target)), 10000), 0u);

  EXPECT_EQ(harness::ReadBytes(harness::Wide(target + ".ran")), "\"" + target + "\"\r\n");
  std::string unixFolder = harness::UnixPath(harness::Wide(folder));
  EXPECT_EQ(unixFolder.substr(unixFolder.size() - 4), "/\xE4\xB9\x97");  // UTF-8 on the Linux side
}

TEST(Environment, ImmutableFileRefusesWriting) {
  std::wstring file = harness::ScratchDir() + L"\\Ostravine.exe";
  harness::WriteBytes(file, "installed");
  harness::MakeImmutable(file);

  harness::Handle writer(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  EXPECT_FALSE(writer);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(harness::ReadBytes(file), "installed");
}

TEST(Environment, SmallDiskEndsWithAShortWriteThenDiskFull) {
  std::wstring folder = harness::ScratchDir() + L"\\small";
  CreateDirectoryW(folder.c_str(), nullptr);
  harness::MountSmallDisk(folder, "64k");
  harness::Handle file(
      CreateFileW((folder + L"\\big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file);

  std::string chunk = harness::PatternBytes(5000);
  DWORD total = 0;
  DWORD written = 0;
  while (WriteFile(file.get(), chunk.data(), 5000, &written, nullptr) && written == 5000) total += written;
  total += written;

  EXPECT_EQ(total, 64u * 1024u);
  EXPECT_FALSE(WriteFile(file.get(), chunk.data(), 5000, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
}

}  // namespace

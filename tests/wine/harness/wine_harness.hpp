// What a Windows test under the Wine harness needs from its surroundings: its scratch folder,
// the stand-in programs, the update server on 127.0.0.1:8081 and child processes.
// Failures throw std::runtime_error, which GoogleTest reports as a failed test. Times are in
// milliseconds: <chrono> cannot be compiled with the GBK execution charset of these builds.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

// --- Files ---

// An empty folder for the running test case alone, as a Windows path ("Z:\...").
std::wstring ScratchDir();
// A stand-in program by its base name: "standin-zh", "standin-en", "standin-bare", "holdfile".
std::wstring StandinExe(std::wstring_view name);
// The Linux path of a Windows path, as the update server needs it.
std::string UnixPath(const std::wstring& windowsPath);
// Text in the ANSI code page (936 under the harness), for the narrow Windows functions.
std::string Ansi(std::wstring_view text);
std::wstring Wide(std::string_view ansi);

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, std::string_view bytes);
bool WaitForFile(const std::wstring& path, DWORD limitMs);
// Bytes that differ from one position to the next, so a shifted or dropped chunk shows.
std::string PatternBytes(std::size_t count);

// --- The update server (tests/wine/README.md) ---

// How the faults mode answers a GET of one path.
struct Reply {
  int status = 200;
  std::string body{};
  std::wstring bodyFile{};              // when given, its bytes are the body
  std::optional<long> contentLength{};  // default: the body's length
  bool omitContentLength = false;
  std::optional<std::size_t> sendBytes{};  // default: the whole body
  bool reset = false;                      // end with RST instead of a close
  bool headers = true;                     // false: no status line at all
  double delaySeconds = 0;                 // before the status line
  double stallSeconds = 0;                 // after the sent bytes, before the end
  double bytesPerSecond = 0;               // the body trickles at this rate; 0: at once
};

// One request that port 8081 received.
struct Request {
  std::string line;  // "GET /update_go/update.htm HTTP/1.1"
  std::string status;
  std::string userAgent;
  std::string range;  // the Range header asked for, in the faults mode; empty without one
};

void ServeNothing();
void ServeWithNginx(const std::wstring& root);
// Answers by the rules given with SetReply, then with the files of root (if any), then 404.
void ServeFaults(const std::wstring& root = {});
void SetReply(std::string_view urlPath, const Reply& reply);
// How a GET of urlPath with a Range header goes wrong: "whole" (200 and the whole file), "416",
// "shift" (Content-Range one byte on) or "short" (half the body). Without it, a 206.
// With `once`, only the next ranged GET of urlPath meets the fault.
void SetRangeFault(std::string_view urlPath, std::string_view how, bool once = false);
// Squid as a caching reverse proxy on 8081, nginx serving root behind it; their configuration,
// cache and logs go to stateDir. Requests() then lists what reached nginx.
void ServeThroughCache(const std::wstring& root, const std::wstring& stateDir);
// The body a client that sends no cache directives gets for urlPath from 8081.
std::string PlainGet(std::string_view urlPath);
// The requests since the last Serve... call, oldest first.
std::vector<Request> Requests();
// A tmpfs of the given size ("64k") on folder, gone when the test ends.
void MountSmallDisk(const std::wstring& folder, std::string_view size);
// Makes an existing file unwritable even for root (chattr +i) until the test ends. As root,
// Wine's read-only attribute does not stop a write.
void MakeImmutable(const std::wstring& file);

// --- Processes ---

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle();
  HANDLE get() const { return handle_; }
  HANDLE release();
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// A started Windows program; still running at destruction, it is terminated.
class Process {
 public:
  explicit Process(const std::wstring& commandLine);
  Process(Process&&) = default;
  Process& operator=(Process&&) = default;
  ~Process();
  // The exit code, or nothing when the program is still running after limitMs.
  std::optional<DWORD> Wait(DWORD limitMs);

 private:
  Handle process_;
};

// Runs a program to its end; a program still running after limitMs is terminated and throws.
DWORD Run(const std::wstring& commandLine, DWORD limitMs);
std::wstring Quoted(const std::wstring& argument);

}  // namespace harness

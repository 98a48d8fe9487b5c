#include "wine_harness.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace harness {
namespace {

constexpr unsigned short kControlPort = 8082;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096];
  DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  if (length == 0 || length >= 4096) Fail("environment variable " + Utf8(name) + " is not set; run through CTest");
  return std::wstring(buffer, length);
}

// Wine's own path conversions; they exist only under Wine, which is where these tests run.
template <typename Function>
Function WineFunction(const char* name) {
  FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
  if (proc == nullptr) Fail(std::string("not running under Wine: no ") + name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

struct HeapDeleter {
  void operator()(void* p) const { HeapFree(GetProcessHeap(), 0, p); }
};

std::wstring WindowsPathOf(const std::wstring& unixPath) {
  using ToDos = WCHAR*(CDECL*)(LPCSTR);
  static const auto toDos = WineFunction<ToDos>("wine_get_dos_file_name");
  std::unique_ptr<WCHAR, HeapDeleter> path(toDos(Utf8(unixPath).c_str()));
  if (!path) Fail("no Windows path for " + Utf8(unixPath));
  return path.get();
}

std::string PercentEncoded(std::string_view bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

class Socket {
 public:
  Socket() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
    if (socket_ == INVALID_SOCKET) Fail("socket() failed");
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { closesocket(socket_); }
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) Fail("WSAStartup failed");
  }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
  ~Winsock() { WSACleanup(); }
};

using Values = std::vector<std::pair<std::string, std::string>>;

// One control request to the update server; returns the answer's body.
std::string Control(const std::string& command, const Values& values = {}) {
  static Winsock winsock;
  std::string target = "/" + command;
  for (std::size_t i = 0; i < values.size(); ++i) {
    target += (i == 0 ? "?" : "&") + values[i].first + "=" + PercentEncoded(values[i].second);
  }
  Socket connection;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kControlPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Fail("the update server's control port does not answer; declare the test with SERVER");
  }
  std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
  for (std::size_t sent = 0; sent < request.size();) {
    int n = send(connection.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) Fail("control request could not be sent");
    sent += static_cast<std::size_t>(n);
  }
  std::string answer;
  char buffer[8192];
  for (int n; (n = recv(connection.get(), buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(n));
  std::size_t split = answer.find("\r\n\r\n");
  std::string body = split == std::string::npos ? std::string() : answer.substr(split + 4);
  if (answer.compare(0, 13, "HTTP/1.0 200 ") != 0) Fail("update server refused /" + command + ": " + body);
  return body;
}

}  // namespace

// --- Files ---

std::wstring ScratchDir() {
  std::wstring folder = WindowsPathOf(Environment(L"HARNESS_SCRATCH_DIR"));
  if (const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info()) {
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
      if (std::strchr("/\\:*?\"<>|", c) != nullptr) c = '_';  // parameterised names hold '/'
    }
    folder += L"\\" + Wide(name);
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  return folder;
}

std::wstring StandinExe(std::wstring_view name) {
  return WindowsPathOf(Environment(L"HARNESS_STANDIN_DIR")) + L"\\" + std::wstring(name) + L".exe";
}

std::string UnixPath(const std::wstring& windowsPath) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  static const auto toUnix = WineFunction<ToUnix>("wine_get_unix_file_name");
  std::unique_ptr<char, HeapDeleter> path(toUnix(windowsPath.c_str()));
  if (!path) Fail("no Linux path for " + Utf8(windowsPath));
  return path.get();
}

std::string Ansi(std::wstring_view text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring Wide(std::string_view ansi) {
  if (ansi.empty()) return {};
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.data(), size);
  return out;
}

std::string ReadBytes(const std::wstring& path) {
  Handle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) Fail("cannot open " + Utf8(path));
  std::string bytes;
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
  return bytes;
}

void WriteBytes(const std::wstring& path, std::string_view bytes) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    Fail("cannot write " + Utf8(path));
  }
}

bool WaitForFile(const std::wstring& path, DWORD limitMs) {
  ULONGLONG deadline = GetTickCount64() + limitMs;
  while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

std::string PatternBytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

// --- The update server ---

void ServeNothing() { Control("mode", {{"name", "down"}}); }

void ServeWithNginx(const std::wstring& root) { Control("mode", {{"name", "nginx"}, {"root", UnixPath(root)}}); }

void ServeFaults(const std::wstring& root) {
  Values values{{"name", "faults"}};
  if (!root.empty()) values.emplace_back("root", UnixPath(root));
  Control("mode", values);
}

void SetReply(std::string_view urlPath, const Reply& reply) {
  Values values{{"path", std::string(urlPath)}, {"status", std::to_string(reply.status)}, {"body", reply.body}};
  if (!reply.bodyFile.empty()) values.emplace_back("file", UnixPath(reply.bodyFile));
  if (reply.omitContentLength) {
    values.emplace_back("length", "none");
  } else if (reply.contentLength) {
    values.emplace_back("length", std::to_string(*reply.contentLength));
  }
  if (reply.sendBytes) values.emplace_back("send", std::to_string(*reply.sendBytes));
  if (reply.reset) values.emplace_back("end", "reset");
  if (!reply.headers) values.emplace_back("headers", "0");
  if (reply.delaySeconds > 0) values.emplace_back("delay", std::to_string(reply.delaySeconds));
  if (reply.stallSeconds > 0) values.emplace_back("stall", std::to_string(reply.stallSeconds));
  if (reply.bytesPerSecond > 0) values.emplace_back("rate", std::to_string(reply.bytesPerSecond));
  Control("rule", values);
}

void SetRangeFault(std::string_view urlPath, std::string_view how, bool once) {
  Control("rule", {{"path", std::string(urlPath)}, {"ranges", std::string(how)}, {"once", once ? "1" : "0"}});
}

void ServeThroughCache(const std::wstring& root, const std::wstring& stateDir) {
  Control("mode", {{"name", "cache"}, {"root", UnixPath(root)}, {"state", UnixPath(stateDir)}});
}

std::string PlainGet(std::string_view urlPath) { return Control("fetch", {{"path", std::string(urlPath)}}); }

std::vector<Request> Requests() {
  std::vector<Request> requests;
  std::string log = Control("requests");
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    start = end + 1;
    std::size_t tab1 = line.find('\t');
    std::size_t tab2 = tab1 == std::string::npos ? std::string::npos : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    const std::size_t tab3 = line.find('\t', tab2 + 1);
    requests.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1),
                        line.substr(tab2 + 1, tab3 == std::string::npos ? std::string::npos : tab3 - tab2 - 1),
                        tab3 == std::string::npos ? std::string() : line.substr(tab3 + 1)});
  }
  return requests;
}

void MountSmallDisk(const std::wstring& folder, std::string_view size) {
  Control("mount", {{"dir", UnixPath(folder)}, {"size", std::string(size)}});
}

void MakeImmutable(const std::wstring& file) { Control("immutable", {{"path", UnixPath(file)}}); }

// --- Processes ---

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    if (*this) CloseHandle(handle_);
    handle_ = other.release();
  }
  return *this;
}

Handle::~Handle() {
  if (*this) CloseHandle(handle_);
}

HANDLE Handle::release() {
  HANDLE handle = handle_;
  handle_ = nullptr;
  return handle;
}

Process::Process(const std::wstring& commandLine) {
  std::wstring writable = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    Fail("cannot start " + Utf8(commandLine) + " (error " + std::to_string(GetLastError()) + ")");
  }
  CloseHandle(info.hThread);
  process_ = Handle(info.hProcess);
}

Process::~Process() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
}

std::optional<DWORD> Process::Wait(DWORD limitMs) {
  if (WaitForSingleObject(process_.get(), limitMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

DWORD Run(const std::wstring& commandLine, DWORD limitMs) {
  Process process(commandLine);
  std::optional<DWORD> code = process.Wait(limitMs);
  if (!code) Fail("still running after " + std::to_string(limitMs) + " ms: " + Utf8(commandLine));
  return *code;
}

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

}  // namespace harness

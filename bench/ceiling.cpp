// The ceiling of a WinINet download here: the updater's requests and its 5000-byte read loop,
// with nothing written anywhere unless asked. Started by wine64 as the updater is:
//   bench-ceiling [--sha256] [--write DIR] URL...
// Each URL gets its own session, as each of the updater's transfers does. --sha256 also runs
// every chunk through CNG's SHA-256. --write stores each body in a temporary file in DIR as the
// updater does (1 MiB pieces from one buffer, flushed at the end), then removes it. Prints
// "BYTES SHA256-OR-DASH URL" per URL; exits 1 when a transfer fails or ends short of its
// Content-Length.
#include <windows.h>
#include <bcrypt.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "windows/win_handle.hpp"

namespace {

constexpr DWORD kChunkSize = 5000;
constexpr DWORD kRequestFlags = 0x84000100;  // RELOAD | NO_CACHE_WRITE | PRAGMA_NOCACHE
constexpr char kExtraHeaders[] = "Accept: */*\r\n\r\n";

void CloseAlgorithm(BCRYPT_ALG_HANDLE handle) { ::BCryptCloseAlgorithmProvider(handle, 0); }
void DestroyHash(BCRYPT_HASH_HANDLE handle) { ::BCryptDestroyHash(handle); }
using AlgorithmHandle = UniqueHandle<BCRYPT_ALG_HANDLE, nullptr, CloseAlgorithm>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, nullptr, DestroyHash>;

// SHA-256 over the chunks of one transfer; does nothing without an algorithm.
class Digest {
 public:
  explicit Digest(BCRYPT_ALG_HANDLE algorithm) {
    if (!algorithm) return;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) hash_ = HashHandle(hash);
    failed_ = !hash_;
  }
  void Add(const char* data, DWORD size) {
    if (hash_ &&
        !BCRYPT_SUCCESS(::BCryptHashData(hash_.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data)), size, 0)))
      failed_ = true;
  }
  // Lowercase hex, "-" without an algorithm, empty when hashing failed.
  std::string Finish() {
    if (failed_) return "";
    if (!hash_) return "-";
    UCHAR value[32];
    if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash_.get(), value, sizeof value, 0))) return "";
    std::string hex;
    for (UCHAR byte : value) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", byte);
      hex += pair;
    }
    return hex;
  }

 private:
  HashHandle hash_;
  bool failed_ = false;
};

// A body written as the updater writes it; does nothing without a folder.
class TemporaryFile {
 public:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;

  explicit TemporaryFile(const char* folder) {
    if (!folder) return;
    path_ = std::string(folder) + "\\bench-ceiling.download";
    file_ = OpenFile(path_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    failed_ = !file_;
    buffer_.reserve(kPiece);
  }
  ~TemporaryFile() {
    file_.Reset();
    if (!path_.empty()) ::DeleteFileA(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Add(const char* data, std::size_t size) {
    if (!file_) return;
    while (size > 0) {
      const std::size_t taken = std::min(size, kPiece - buffer_.size());
      buffer_.insert(buffer_.end(), data, data + taken);
      data += taken;
      size -= taken;
      if (buffer_.size() == kPiece) Write();
    }
  }
  // False when a write or the flush failed.
  bool Finish() {
    if (!file_) return !failed_;
    Write();
    if (!::FlushFileBuffers(file_.get())) failed_ = true;
    return !failed_;
  }

 private:
  void Write() {
    if (buffer_.empty()) return;
    DWORD written = 0;
    const auto size = static_cast<DWORD>(buffer_.size());
    if (!::WriteFile(file_.get(), buffer_.data(), size, &written, nullptr) || written != size) failed_ = true;
    buffer_.clear();
  }

  std::string path_;
  FileHandle file_;
  std::vector<char> buffer_;
  bool failed_ = false;
};

DWORD ContentLength(HINTERNET request) {
  DWORD length = 0;
  DWORD size = sizeof length;
  if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr)) return 0;
  return length;
}

// One GET of `url`, read to its end and dropped; false when it fails or comes short.
bool Fetch(const char* url, BCRYPT_ALG_HANDLE algorithm, const char* folder) {
  DWORD state = 0;
  ::InternetGetConnectedState(&state, 0);
  const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                           : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  InternetHandle session(::InternetOpenA("bench-ceiling", access, nullptr, nullptr, 0));
  if (!session) return false;
  InternetHandle request(::InternetOpenUrlA(session.get(), url, kExtraHeaders,
                                            static_cast<DWORD>(std::strlen(kExtraHeaders)), kRequestFlags, 0));
  if (!request) return false;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
      status != 200)
    return false;
  const DWORD expected = ContentLength(request.get());
  Digest digest(algorithm);
  TemporaryFile file(folder);
  char chunk[kChunkSize];
  unsigned long long received = 0;
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), chunk, kChunkSize, &read)) return false;
    if (read == 0) break;
    received += read;
    digest.Add(chunk, read);
    file.Add(chunk, read);
  }
  if (!file.Finish()) return false;
  const std::string hex = digest.Finish();
  std::printf("%llu %s %s\n", received, hex.empty() ? "hash-failed" : hex.c_str(), url);
  return received == expected && !hex.empty();
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  AlgorithmHandle algorithm;
  const char* folder = nullptr;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    if (std::strcmp(argv[first], "--sha256") == 0 && !algorithm) {
      BCRYPT_ALG_HANDLE opened = nullptr;
      if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return 1;
      algorithm = AlgorithmHandle(opened);
    } else if (std::strcmp(argv[first], "--write") == 0 && !folder && first + 1 < argc) {
      folder = argv[++first];
    } else {
      first = argc;  // unknown: the usage below
    }
  }
  if (first >= argc) {
    std::fputs("usage: bench-ceiling [--sha256] [--write DIR] URL...\n", stderr);
    return 2;
  }
  bool complete = true;
  for (int i = first; i < argc; ++i) complete = Fetch(argv[i], algorithm.get(), folder) && complete;
  std::fflush(stdout);
  return complete ? 0 : 1;
}

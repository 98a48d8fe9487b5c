#include "http_transfer.hpp"

#include <windows.h>
#include <mmsystem.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <optional>

#include "download/bounded_buffer_sink.hpp"
#include "exact_size_sink.hpp"
#include "phase_log.hpp"
#include "replacing_file_sink.hpp"
#include "text/text.hpp"
#include "win_handle.hpp"

namespace {

constexpr DWORD kChunkSize = 5000;
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr char kExtraHeaders[] = "Accept: */*\r\n\r\n";

InternetHandle OpenSession() {
  DWORD state = 0;
  ::InternetGetConnectedState(&state, 0);
  const DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                           : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  // A new agent name for every session.
  char agent[64];
  (void)std::snprintf(agent, sizeof agent, "Agent%ld", static_cast<long>(static_cast<std::int32_t>(::timeGetTime())));
  return InternetHandle(::InternetOpenA(agent, access, nullptr, nullptr, 0));
}

// An opened request: the URL handle is declared after the session, so it is closed first.
struct Request {
  InternetHandle session;
  InternetHandle url;
  explicit operator bool() const { return static_cast<bool>(url); }
  HINTERNET get() const { return url.get(); }
};

// The one way a request is opened, for whole bodies and ranges alike: a session of its own and
// a GET of `url` with `headers` that bypasses every cache.
Request OpenRequest(const std::string& url, const std::string& headers) {
  MarkPhase("start");
  Request request{OpenSession(), {}};
  if (!request.session) return request;
  MarkPhase("session");
  request.url.Reset(::InternetOpenUrlA(request.session.get(), url.c_str(), headers.c_str(),
                                       static_cast<DWORD>(headers.size()), kRequestFlags, 0));
  if (request) MarkPhase("request");
  return request;
}

// The response's status code; 0 when it cannot be read.
DWORD Status(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
  return status;
}

// The body length the server announced, if it did.
std::optional<std::uint64_t> ContentLength(HINTERNET request) {
  char value[32] = {};
  DWORD size = sizeof value - 1;
  if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, value, &size, nullptr)) return std::nullopt;
  std::uint64_t length = 0;
  for (DWORD i = 0; i < size; ++i) {
    if (value[i] < '0' || value[i] > '9') return std::nullopt;
    length = length * 10 + static_cast<std::uint64_t>(value[i] - '0');
  }
  return size > 0 ? std::optional(length) : std::nullopt;
}

// Reads the body into the sink in the Part's 5000-byte pieces; true when it ended with exactly
// `expected` bytes, if that is known. A body longer than that ends the transfer at once.
bool ReadBody(HINTERNET request, std::optional<std::uint64_t> expected, TransferSink& sink) {
  char chunk[kChunkSize];
  std::uint64_t received = 0;
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request, chunk, kChunkSize, &read)) return false;
    // A connection closed early also ends in a successful empty read: only the length tells.
    if (read == 0) {
      MarkPhase("body");
      return !expected || *expected == received;
    }
    received += read;
    if ((expected && received > *expected) || !sink.Add(chunk, read)) return false;
  }
}

// One GET of `url` into `sink`.
int Transfer(const std::string& url, TransferSink& sink) {
  const Request request = OpenRequest(url, kExtraHeaders);
  if (!request) return 0;
  // An error page is not the content that was asked for.
  const DWORD status = Status(request.get());
  if (status < 200 || status > 299) return 0;
  const auto expected = ContentLength(request.get());
  if (!sink.Open()) return 0;
  MarkPhase("open");
  return ReadBody(request.get(), expected, sink) && sink.Finish() ? 1 : 0;
}

std::string ContentRange(HINTERNET request) {
  char value[96] = {};
  DWORD size = sizeof value - 1;
  if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, value, &size, nullptr)) return {};
  return std::string(value, size);
}

std::string RangeHeaders(const ByteRange& range) {
  return text::Format("Accept: */*\r\nRange: bytes=%llu-%llu\r\n\r\n", static_cast<unsigned long long>(range.first),
                      static_cast<unsigned long long>(range.last));
}

// The Content-Range a 206 must state for `range`.
std::string StatedRange(const ByteRange& range) {
  return text::Format("bytes %llu-%llu/%llu", static_cast<unsigned long long>(range.first),
                      static_cast<unsigned long long>(range.last), static_cast<unsigned long long>(range.total));
}

}  // namespace

int FetchText(const std::string& url, char* buffer, std::size_t capacity) {
  BoundedBufferSink sink(buffer, capacity);
  return Transfer(url, sink);
}

int FetchExact(const std::string& url, std::size_t size, std::string& body) {
  ExactSizeSink sink(body, size);
  return Transfer(url, sink);
}

int DownloadToSink(const std::string& url, TransferSink& sink) { return Transfer(url, sink); }

int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) {
  ReplacingFileSink sink(localPath, expected);
  return Transfer(url, sink);
}

bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) {
  const bool whole = range.first == 0 && range.last + 1 == range.total;
  const Request request = OpenRequest(url, whole ? std::string(kExtraHeaders) : RangeHeaders(range));
  if (!request) return false;
  const DWORD status = Status(request.get());
  std::uint64_t start = 0;
  if (!whole && status == 206 && ContentRange(request.get()) == StatedRange(range)) {
    start = range.first;
  } else if (status != 200) {
    return false;
  }
  if (!stream.Start(start)) return false;
  MarkPhase("open");
  char chunk[kChunkSize];
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), chunk, kChunkSize, &read)) return false;
    // The rest of the body is not wanted: the connection is closed with the request.
    if (read == 0 || !stream.Add(chunk, read) || stream.Done()) break;
  }
  MarkPhase("body");
  return stream.Done();
}

RangeAnswer FetchRange(const std::string& url, const ByteRange& range, TransferSink& sink) {
  const Request request = OpenRequest(url, RangeHeaders(range));
  if (!request) return RangeAnswer::kRefused;
  const DWORD status = Status(request.get());
  const auto length = ContentLength(request.get());
  if (status == 200) {
    if (!sink.Open()) return RangeAnswer::kWholeFailed;
    return ReadBody(request.get(), length, sink) && sink.Finish() ? RangeAnswer::kWhole : RangeAnswer::kWholeFailed;
  }
  const std::uint64_t wanted = range.last - range.first + 1;
  if (status != 206 || ContentRange(request.get()) != StatedRange(range) || (length && *length != wanted))
    return RangeAnswer::kRefused;
  return ReadBody(request.get(), wanted, sink) ? RangeAnswer::kPart : RangeAnswer::kRefused;
}

#include "durable_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "crypto.hpp"
#include "release.hpp"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const fs::path& path, const char* what) {
  throw PublishError(path.string() + ": cannot be " + what + ": " + std::strerror(errno));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

Fd OpenForReading(const fs::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail(path, "read");
  return fd;
}

// Reads up to the buffer's size, retrying short reads; 0 at the end.
std::size_t ReadSome(const Fd& fd, const fs::path& path, std::vector<char>& buffer) {
  std::size_t got = 0;
  while (got < buffer.size()) {
    const ssize_t n = ::read(fd.get(), buffer.data() + got, buffer.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(path, "read");
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

void WriteAll(const Fd& fd, const fs::path& path, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd.get(), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(path, "written");
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void Finish(Fd& fd, const fs::path& path) {
  if (::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0 || !fd.Close()) Fail(path, "written");
}

}  // namespace

bool SameBytes(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
  const Fd first = OpenForReading(a), second = OpenForReading(b);
  std::vector<char> x(1 << 16), y(1 << 16);
  for (;;) {
    const std::size_t n = ReadSome(first, a, x), m = ReadSome(second, b, y);
    if (n != m || std::memcmp(x.data(), y.data(), n) != 0) return false;
    if (n == 0) return true;
  }
}

void MakeFolder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0755) != 0 || ::chmod(folder.c_str(), 0755) != 0) Fail(folder, "created");
}

void CopyDurably(const fs::path& from, const fs::path& to) {
  const Fd in = OpenForReading(from);
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (out.get() < 0) Fail(to, "created");
  std::vector<char> buffer(1 << 16);
  while (const std::size_t n = ReadSome(in, from, buffer)) WriteAll(out, to, buffer.data(), n);
  Finish(out, to);
}

void SyncFolder(const fs::path& folder) {
  const Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) Fail(folder, "flushed");
}

namespace {

// Writes through `fill` into a temporary dot-file beside `target`, flushes it and renames it to
// `target`; the temporary file goes when anything fails.
template <typename Fill>
void PutInPlace(const fs::path& target, Fill fill) {
  std::string name = (target.parent_path() / ("." + target.filename().string() + "-XXXXXX")).string();
  Fd out(::mkstemp(name.data()));
  if (out.get() < 0) Fail(name, "created");
  const fs::path temporary(name);
  try {
    fill(out, temporary);
    Finish(out, temporary);
    if (::rename(temporary.c_str(), target.c_str()) != 0) Fail(target, "replaced");
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace

void WriteIntoPlace(const fs::path& target, std::string_view bytes) {
  PutInPlace(target,
             [&](const Fd& out, const fs::path& temporary) { WriteAll(out, temporary, bytes.data(), bytes.size()); });
}

void CopyIntoPlace(const fs::path& from, const fs::path& target, const FileDigest& expected, const std::string& shown) {
  PutInPlace(target, [&](const Fd& out, const fs::path& temporary) {
    const Fd in = OpenForReading(from);
    Sha256 hash;
    std::int64_t size = 0;
    std::vector<char> buffer(1 << 16);
    while (const std::size_t n = ReadSome(in, from, buffer)) {
      hash.Add(buffer.data(), n);
      size += static_cast<std::int64_t>(n);
      WriteAll(out, temporary, buffer.data(), n);
    }
    if (size != expected.size || hash.Finish() != expected.sha256)
      throw PublishError(shown + ": changed while it was published; publish it again");
  });
}

void ReplaceDurably(const fs::path& target, std::string_view bytes) {
  WriteIntoPlace(target, bytes);
  SyncFolder(target.parent_path());
}

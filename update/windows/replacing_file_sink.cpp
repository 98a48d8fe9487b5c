#include "replacing_file_sink.hpp"

#include "file_error.hpp"
#include "os_file_error.hpp"
#include "phase_log.hpp"

namespace {

// The body reaches the disk in pieces of this size: a write per 5000-byte read costs more than
// the read itself. The buffer is the sink's only memory, whatever the size of the file.
constexpr std::size_t kWriteBufferSize = std::size_t{1} << 20;

}  // namespace

ReplacingFileSink::ReplacingFileSink(std::string destination, const FileDigest* expected)
    : destination_(std::move(destination)), temporary_(TemporaryPath(destination_)) {
  if (expected) {
    expected_ = *expected;
    hash_.emplace();
  }
}

ReplacingFileSink::~ReplacingFileSink() { Discard(); }

bool ReplacingFileSink::Open() {
  if (created_) {
    if (!file_) return false;
    Restart();
    return true;
  }
  hold_ = OpenFile(destination_.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (!hold_ && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  const std::string seed = SeedPath(destination_);
  if (::GetFileAttributesA(temporary_.c_str()) != INVALID_FILE_ATTRIBUTES)
    ::MoveFileExA(temporary_.c_str(), seed.c_str(), MOVEFILE_REPLACE_EXISTING);
  seed_ = OpenFile(seed.c_str(), GENERIC_READ, OPEN_EXISTING);
  file_ = OpenFile(temporary_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  created_ = static_cast<bool>(file_);
  if (created_) buffer_.reserve(kWriteBufferSize);
  return created_;
}

void ReplacingFileSink::Restart() {
  buffer_.clear();
  received_ = 0;
  if (hash_) hash_.emplace();
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get()))
    FailWrite(::GetLastError());
}

bool ReplacingFileSink::Add(const char* data, std::size_t size) {
  received_ += size;
  if (expected_) {
    // An endless body must not fill the disk.
    if (received_ > static_cast<std::uint64_t>(expected_->size)) return false;
    hash_->Add(data, size);
  }
  while (size > 0) {
    const std::size_t room = kWriteBufferSize - buffer_.size();
    const std::size_t taken = size < room ? size : room;
    buffer_.insert(buffer_.end(), data, data + taken);
    data += taken;
    size -= taken;
    if (buffer_.size() == kWriteBufferSize) WriteBuffered();
  }
  return true;
}

void ReplacingFileSink::WriteBuffered() {
  if (buffer_.empty()) return;
  const auto size = static_cast<DWORD>(buffer_.size());
  DWORD written = 0;
  if (!::WriteFile(file_.get(), buffer_.data(), size, &written, nullptr)) FailWrite(::GetLastError());
  if (written != size) FailWrite(ERROR_DISK_FULL);
  buffer_.clear();
}

bool ReplacingFileSink::Finish() {
  if (expected_ && (received_ != static_cast<std::uint64_t>(expected_->size) || hash_->Finish() != expected_->sha256))
    return false;
  WriteBuffered();
  if (!::FlushFileBuffers(file_.get())) FailWrite(::GetLastError());
  MarkPhase("flush");
  file_.Reset();
  hold_.Reset();
  if (!::MoveFileExA(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  MarkPhase("replace");
  created_ = false;
  if (seed_) {
    seed_.Reset();
    ::DeleteFileA(SeedPath(destination_).c_str());
  }
  return true;
}

void ReplacingFileSink::Discard() {
  file_.Reset();
  hold_.Reset();
  seed_.Reset();
  if (created_) ::DeleteFileA(temporary_.c_str());
  created_ = false;
}

void ReplacingFileSink::FailWrite(DWORD error) {
  Discard();
  throw FileError(FileErrorCause(error), destination_);
}

#include "replacing_file_sink.hpp"

#include "file_error.hpp"
#include "os_file_error.hpp"

ReplacingFileSink::ReplacingFileSink(std::string destination, const FileDigest* expected)
    : destination_(std::move(destination)), temporary_(TemporaryPath(destination_)) {
  if (expected) {
    expected_ = *expected;
    hash_.emplace();
  }
}

ReplacingFileSink::~ReplacingFileSink() { Discard(); }

bool ReplacingFileSink::Open() {
  hold_ = OpenFile(destination_.c_str(), GENERIC_WRITE, OPEN_EXISTING);
  if (!hold_ && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  file_ = OpenFile(temporary_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  created_ = static_cast<bool>(file_);
  return created_;
}

bool ReplacingFileSink::Add(const char* data, std::size_t size) {
  received_ += size;
  if (expected_) {
    // An endless body must not fill the disk.
    if (received_ > static_cast<std::uint64_t>(expected_->size)) return false;
    hash_->Add(data, size);
  }
  while (size > 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file_.get(), data, chunk, &written, nullptr)) FailWrite(::GetLastError());
    if (written != chunk) FailWrite(ERROR_DISK_FULL);
    data += written;
    size -= written;
  }
  return true;
}

bool ReplacingFileSink::Finish() {
  if (expected_ && (received_ != static_cast<std::uint64_t>(expected_->size) || hash_->Finish() != expected_->sha256))
    return false;
  if (!::FlushFileBuffers(file_.get())) FailWrite(::GetLastError());
  file_.Reset();
  hold_.Reset();
  if (!::MoveFileExA(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  created_ = false;
  return true;
}

void ReplacingFileSink::Discard() {
  file_.Reset();
  hold_.Reset();
  if (created_) ::DeleteFileA(temporary_.c_str());
  created_ = false;
}

void ReplacingFileSink::FailWrite(DWORD error) {
  Discard();
  throw FileError(FileErrorCause(error), destination_);
}

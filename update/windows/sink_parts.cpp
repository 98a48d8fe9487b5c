#include "sink_parts.hpp"

#include "file_error.hpp"
#include "os_file_error.hpp"

ExpectedBody::ExpectedBody(std::uint64_t size, std::optional<Sha256Digest> sha256) : size_(size), sha256_(sha256) {
  Restart();
}

ExpectedBody::ExpectedBody(const FileDigest& digest)
    : ExpectedBody(static_cast<std::uint64_t>(digest.size), digest.sha256) {}

void ExpectedBody::Restart() {
  received_ = 0;
  if (sha256_) hash_.emplace();
}

bool ExpectedBody::Add(const char* data, std::size_t size) {
  if (size > size_ - received_) return false;
  received_ += size;
  if (hash_) hash_->Add(data, size);
  return true;
}

bool ExpectedBody::Complete() { return received_ == size_ && (!sha256_ || hash_->Finish() == *sha256_); }

bool NewFile::Create() {
  file_ = OpenFile(path_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  created_ = static_cast<bool>(file_);
  return created_;
}

void NewFile::Write(const char* data, std::size_t size) {
  DWORD written = 0;
  if (!::WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr)) Fail(::GetLastError());
  if (written != size) Fail(ERROR_DISK_FULL);
}

void NewFile::Truncate() {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.get()))
    Fail(::GetLastError());
}

void NewFile::Flush() {
  if (!::FlushFileBuffers(file_.get())) Fail(::GetLastError());
}

void NewFile::Discard() {
  file_.Reset();
  if (created_) ::DeleteFileA(path_.c_str());
  created_ = false;
}

void NewFile::Fail(DWORD error) {
  Discard();
  throw FileError(FileErrorCause(error), shown_);
}

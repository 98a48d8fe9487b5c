#include "temporary_file_sink.hpp"

#include "file_error.hpp"
#include "os_file_error.hpp"

bool TemporaryFileSink::Open() {
  file_ = OpenFile(path_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  created_ = static_cast<bool>(file_);
  return created_;
}

bool TemporaryFileSink::Add(const char* data, std::size_t size) {
  received_ += size;
  // An endless body must not fill the disk.
  if (received_ > static_cast<std::uint64_t>(expected_.size)) return false;
  hash_.Add(data, size);
  DWORD written = 0;
  if (!::WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr)) FailWrite(::GetLastError());
  if (written != size) FailWrite(ERROR_DISK_FULL);
  return true;
}

bool TemporaryFileSink::Finish() {
  if (received_ != static_cast<std::uint64_t>(expected_.size) || hash_.Finish() != expected_.sha256) return false;
  if (!::FlushFileBuffers(file_.get())) FailWrite(::GetLastError());
  file_.Reset();
  created_ = false;
  return true;
}

void TemporaryFileSink::Discard() {
  file_.Reset();
  if (created_) ::DeleteFileA(path_.c_str());
  created_ = false;
}

void TemporaryFileSink::FailWrite(DWORD error) {
  Discard();
  throw FileError(FileErrorCause(error), path_);
}

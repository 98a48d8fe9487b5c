#include "replacing_file_sink.hpp"

#include "file_error.hpp"
#include "os_file_error.hpp"
#include "phase_log.hpp"

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
  if (created_) writer_.emplace(file_.get(), hash_ ? &*hash_ : nullptr);
  return created_;
}

bool ReplacingFileSink::Add(const char* data, std::size_t size) {
  received_ += size;
  // An endless body must not fill the disk.
  if (expected_ && received_ > static_cast<std::uint64_t>(expected_->size)) return false;
  if (const auto failure = writer_->Add(data, size)) FailWrite(*failure);
  return true;
}

bool ReplacingFileSink::Finish() {
  if (expected_ && received_ != static_cast<std::uint64_t>(expected_->size)) return false;
  if (const auto failure = writer_->Drain()) FailWrite(*failure);
  if (expected_) {
    writer_->HashRest();
    if (hash_->Finish() != expected_->sha256) return false;
  }
  if (const auto failure = writer_->WriteRest()) FailWrite(*failure);
  if (!::FlushFileBuffers(file_.get())) FailWrite(::GetLastError());
  MarkPhase("flush");
  writer_.reset();
  file_.Reset();
  hold_.Reset();
  if (!::MoveFileExA(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  MarkPhase("replace");
  created_ = false;
  return true;
}

void ReplacingFileSink::Discard() {
  writer_.reset();
  file_.Reset();
  hold_.Reset();
  if (created_) ::DeleteFileA(temporary_.c_str());
  created_ = false;
}

void ReplacingFileSink::FailWrite(DWORD error) {
  Discard();
  throw FileError(FileErrorCause(error), destination_);
}

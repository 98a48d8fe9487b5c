#include "replacing_file_sink.hpp"

#include "phase_log.hpp"

namespace {

// The body reaches the disk in pieces of this size: a write per 5000-byte read costs more than
// the read itself. The buffer is the sink's only memory, whatever the size of the file.
constexpr std::size_t kWriteBufferSize = std::size_t{1} << 20;

}  // namespace

ReplacingFileSink::ReplacingFileSink(std::string destination, const FileDigest* expected)
    : destination_(std::move(destination)), file_(TemporaryPath(destination_), destination_) {
  if (expected) expected_.emplace(*expected);
}

bool ReplacingFileSink::Open() {
  if (file_.Created()) {
    if (!file_.IsOpen()) return false;
    buffer_.clear();
    if (expected_) expected_->Restart();
    file_.Truncate();
    return true;
  }
  hold_ = OpenFile(destination_.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (!hold_ && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  const std::string seed = SeedPath(destination_);
  if (::GetFileAttributesA(file_.path().c_str()) != INVALID_FILE_ATTRIBUTES)
    ::MoveFileExA(file_.path().c_str(), seed.c_str(), MOVEFILE_REPLACE_EXISTING);
  seed_ = OpenFile(seed.c_str(), GENERIC_READ, OPEN_EXISTING);
  if (!file_.Create()) return false;
  buffer_.reserve(kWriteBufferSize);
  return true;
}

bool ReplacingFileSink::Add(const char* data, std::size_t size) {
  if (expected_ && !expected_->Add(data, size)) return false;
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
  file_.Write(buffer_.data(), buffer_.size());
  buffer_.clear();
}

bool ReplacingFileSink::Finish() {
  if (expected_ && !expected_->Complete()) return false;
  WriteBuffered();
  file_.Flush();
  MarkPhase("flush");
  file_.Close();
  hold_.Reset();
  if (!::MoveFileExA(file_.path().c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  MarkPhase("replace");
  file_.Keep();
  if (seed_) {
    seed_.Reset();
    ::DeleteFileA(SeedPath(destination_).c_str());
  }
  return true;
}

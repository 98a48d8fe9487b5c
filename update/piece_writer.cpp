#include "piece_writer.hpp"

#include <algorithm>
#include <system_error>

namespace {

// The thread flushes once it has caught up with at least this much written since its last flush:
// without it the whole file would wait in the system's cache for the flush before the replace.
constexpr std::uint64_t kFlushAfter = 8 * 1024 * 1024;

}  // namespace

PieceWriter::PieceWriter(HANDLE file, Sha256* hash) : file_(file), hash_(hash) {
  pieces_[0].bytes = std::make_unique_for_overwrite<char[]>(kPieceSize);
}

PieceWriter::~PieceWriter() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

char* PieceWriter::Area(std::size_t size) {
  Piece& piece = pieces_[filling_];
  return size <= kPieceSize - piece.size ? piece.bytes.get() + piece.size : nullptr;
}

PieceWriter::Failure PieceWriter::Add(const char* data, std::size_t size) {
  while (size > 0) {
    Piece& piece = pieces_[filling_];
    char* end = piece.bytes.get() + piece.size;
    const std::size_t taken = std::min(size, kPieceSize - piece.size);
    if (data != end) std::copy_n(data, taken, end);
    piece.size += taken;
    data += taken;
    size -= taken;
    if (piece.size == kPieceSize) HandOver();
  }
  if (!failed_.load()) return std::nullopt;
  const std::lock_guard lock(mutex_);
  return failure_;
}

void PieceWriter::HandOver() {
  if (!inline_ && !thread_.joinable()) {
    try {
      thread_ = std::thread(&PieceWriter::Run, this);
    } catch (const std::system_error&) {
      inline_ = true;
    }
  }
  if (inline_) {
    if (!failed_.load()) Fail(Write(pieces_[filling_], false));
    pieces_[filling_].size = 0;
    return;
  }
  {
    std::unique_lock lock(mutex_);
    ++queued_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return queued_ < kPieces; });
    filling_ = (head_ + queued_) % kPieces;
  }
  Piece& next = pieces_[filling_];
  if (!next.bytes) next.bytes = std::make_unique_for_overwrite<char[]>(kPieceSize);
  next.size = 0;
}

void PieceWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return queued_ > 0 || stopping_; });
    if (stopping_) return;
    const Piece& piece = pieces_[head_];
    const bool skip = failure_.has_value();
    lock.unlock();
    Failure failure;
    if (!skip) {
      failure = Write(piece, false);
      unflushed_ += piece.size;
    }
    lock.lock();
    head_ = (head_ + 1) % kPieces;
    --queued_;
    const bool caughtUp = queued_ == 0;
    lock.unlock();
    changed_.notify_all();
    if (!failure && !skip && caughtUp && unflushed_ >= kFlushAfter) {
      if (!::FlushFileBuffers(file_)) failure = ::GetLastError();
      unflushed_ = 0;
    }
    Fail(failure);
    lock.lock();
  }
}

PieceWriter::Failure PieceWriter::Drain() {
  if (thread_.joinable()) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return queued_ == 0; });
      stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  return failure_;
}

void PieceWriter::HashRest() {
  if (hash_) hash_->Add(pieces_[filling_].bytes.get(), pieces_[filling_].size);
}

PieceWriter::Failure PieceWriter::WriteRest() {
  if (pieces_[filling_].size == 0) return std::nullopt;
  return Write(pieces_[filling_], true);
}

PieceWriter::Failure PieceWriter::Write(const Piece& piece, bool hashed) {
  if (hash_ && !hashed) hash_->Add(piece.bytes.get(), piece.size);
  const auto size = static_cast<DWORD>(piece.size);
  DWORD written = 0;
  if (!::WriteFile(file_, piece.bytes.get(), size, &written, nullptr)) return ::GetLastError();
  if (written != size) return ERROR_DISK_FULL;
  return std::nullopt;
}

void PieceWriter::Fail(Failure failure) {
  if (!failure) return;
  const std::lock_guard lock(mutex_);
  if (!failure_) failure_ = failure;
  failed_.store(true);
}

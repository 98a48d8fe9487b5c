// Writes a download's body to its file in pieces of 1 MiB, in order, hashing each piece on the
// way. Once a body outgrows one piece, a thread of its own writes and hashes the full pieces while
// the next ones are read, and flushes what it wrote whenever it has caught up, so that the flush
// before the replace finds little left to do. Its memory is at most kPieces pieces, whatever the
// size of the file.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "crypto.hpp"

class PieceWriter {
 public:
  static constexpr std::size_t kPieceSize = 1024 * 1024;
  static constexpr std::size_t kPieces = 4;

  // The Windows error of a failed write or flush.
  using Failure = std::optional<DWORD>;

  // `file` and `hash` (may be null) must outlive the writer.
  PieceWriter(HANDLE file, Sha256* hash);
  // Waits for the thread to end; pieces it has not written yet are dropped.
  ~PieceWriter();
  PieceWriter(const PieceWriter&) = delete;
  PieceWriter& operator=(const PieceWriter&) = delete;

  // Room for `size` more bytes in the current piece, or null when they would not fit.
  char* Area(std::size_t size);
  // Takes the bytes into the current piece (where Area gave them, nothing is copied) and hands
  // each full piece over. The first failure so far, if any.
  Failure Add(const char* data, std::size_t size);
  // Waits until every full piece is hashed and written; the first failure, if any.
  Failure Drain();
  // The last, partial piece, once drained: adds it to the hash; writes it.
  void HashRest();
  Failure WriteRest();

 private:
  struct Piece {
    std::unique_ptr<char[]> bytes;  // kPieceSize, made when first filled
    std::size_t size = 0;
  };
  void HandOver();
  void Run();
  Failure Write(const Piece& piece, bool hashed);
  void Fail(Failure failure);

  HANDLE file_;
  Sha256* hash_;
  std::array<Piece, kPieces> pieces_;
  std::size_t filling_ = 0;  // the piece being filled; it follows the queued ones

  std::mutex mutex_;  // guards head_, queued_, stopping_ and failure_
  std::condition_variable changed_;
  std::size_t head_ = 0;    // the oldest queued piece
  std::size_t queued_ = 0;  // full pieces not written yet, the one being written included
  bool stopping_ = false;
  Failure failure_;
  std::atomic<bool> failed_ = false;  // failure_ is set: Add looks without the lock
  std::uint64_t unflushed_ = 0;       // the thread's alone
  bool inline_ = false;               // no thread could be started: pieces are written as they fill
  std::thread thread_;
};

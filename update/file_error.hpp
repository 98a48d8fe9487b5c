// The file error that a failed write raises out of a download. It is the one failure that
// travels as an exception; the window's message handling reports it.
#pragma once

#include <stdexcept>
#include <string>

class FileError : public std::runtime_error {
 public:
  // Causes, numbered as the messages that describe them.
  enum Cause {
    kNone = 0,
    kGeneric = 1,
    kFileNotFound = 2,
    kBadPath = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kInvalidFile = 6,
    kRemoveCurrentDir = 7,
    kDirectoryFull = 8,
    kBadSeek = 9,
    kHardIO = 10,
    kSharingViolation = 11,
    kLockViolation = 12,
    kDiskFull = 13,
    kEndOfFile = 14,
  };

  FileError(Cause cause, std::string path) : std::runtime_error("file error"), cause_(cause), path_(std::move(path)) {}

  Cause cause() const { return cause_; }
  const std::string& path() const { return path_; }

 private:
  Cause cause_;
  std::string path_;
};

#include "os_file_error.hpp"

FileError::Cause FileErrorCause(DWORD error) {
  switch (error) {
    case NO_ERROR: return FileError::kNone;
    case ERROR_FILE_NOT_FOUND: return FileError::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE: return FileError::kBadPath;
    case ERROR_TOO_MANY_OPEN_FILES: return FileError::kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return FileError::kAccessDenied;
    case ERROR_INVALID_HANDLE: return FileError::kInvalidFile;
    case ERROR_CURRENT_DIRECTORY: return FileError::kRemoveCurrentDir;
    case ERROR_CANNOT_MAKE: return FileError::kDirectoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK: return FileError::kBadSeek;
    case ERROR_CRC:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_IO_DEVICE:
    case ERROR_GEN_FAILURE: return FileError::kHardIO;
    case ERROR_SHARING_VIOLATION: return FileError::kSharingViolation;
    case ERROR_LOCK_VIOLATION: return FileError::kLockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return FileError::kDiskFull;
    case ERROR_HANDLE_EOF: return FileError::kEndOfFile;
    default: return FileError::kGeneric;
  }
}

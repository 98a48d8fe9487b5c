// Owners of Windows handles: each closes its handle once, on every path.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

template <typename Handle, Handle Invalid, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, Invalid));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Invalid; }
  void Reset(Handle handle = Invalid) {
    if (handle_ != Invalid) Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Invalid;
};

namespace win_handle_detail {
inline void CloseFile(HANDLE handle) { ::CloseHandle(handle); }
inline void CloseInternet(HINTERNET handle) { ::InternetCloseHandle(handle); }
}  // namespace win_handle_detail

// INVALID_HANDLE_VALUE is not a constant expression, so files use a null handle for "none".
using FileHandle = UniqueHandle<HANDLE, nullptr, win_handle_detail::CloseFile>;
using InternetHandle = UniqueHandle<HINTERNET, nullptr, win_handle_detail::CloseInternet>;

// CreateFile's result as an owner: empty when the file could not be opened.
inline FileHandle OwnFile(HANDLE created) { return FileHandle(created == INVALID_HANDLE_VALUE ? nullptr : created); }

// Opens a file without sharing.
inline FileHandle OpenFile(const char* path, DWORD access, DWORD disposition) {
  return OwnFile(::CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

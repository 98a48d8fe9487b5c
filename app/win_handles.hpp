// Owners for the few Windows handles the shell creates itself, of the engine's one kind.
#pragma once

#include <windows.h>

#include "windows/win_handle.hpp"

namespace win_handle_detail {
inline void DestroyIconHandle(HICON icon) { ::DestroyIcon(icon); }
}  // namespace win_handle_detail

// An icon loaded without LR_SHARED, so it is ours to destroy.
using Icon = UniqueHandle<HICON, nullptr, win_handle_detail::DestroyIconHandle>;

// Loads an icon resource at the system's large icon size.
inline Icon LoadIconResource(HINSTANCE module, int id) {
  return Icon(static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
}

// BeginPaint ... EndPaint for one WM_PAINT.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~PaintScope() { EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// Owners for the few Windows handles the shell creates itself.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
// An icon loaded without LR_SHARED, so it is ours to destroy.
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

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

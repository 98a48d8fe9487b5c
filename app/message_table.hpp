// Message tables: each dialog class lists the messages it handles, one line per message,
// next to the member that handles it. A handler returns what a dialog procedure returns:
// FALSE leaves the message to the dialog's default handling.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

template <class D>
struct MessageEntry {
  using Handler = INT_PTR (D::*)(WPARAM, LPARAM);

  UINT message;
  std::optional<UINT> command;  // WM_COMMAND of this identifier only; none: any
  Handler handler;

  bool Matches(UINT msg, WPARAM wParam) const {
    if (msg != message) return false;
    // Commands come from buttons, menus and keys (codes 0 and 1), not from other notifications.
    return !command || (LOWORD(wParam) == *command && HIWORD(wParam) <= 1);
  }
};

template <class D>
constexpr MessageEntry<D> Message(UINT message, INT_PTR (D::*handler)(WPARAM, LPARAM)) {
  return {message, std::nullopt, handler};
}

template <class D>
constexpr MessageEntry<D> Command(UINT id, INT_PTR (D::*handler)(WPARAM, LPARAM)) {
  return {WM_COMMAND, id, handler};
}

// Calls the handler that `table` names for the message; nothing when it names none.
template <class D, std::size_t N>
std::optional<INT_PTR> Route(const MessageEntry<D> (&table)[N], D& self, UINT message, WPARAM wParam, LPARAM lParam) {
  for (const MessageEntry<D>& entry : table) {
    if (entry.Matches(message, wParam)) return (self.*entry.handler)(wParam, lParam);
  }
  return std::nullopt;
}

// Dialog templates (RT_DIALOG), classic (DLGTEMPLATE) and extended (DLGTEMPLATEEX).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_cursor.hpp"

namespace pe {

inline constexpr std::uint32_t kDsSetFont = 0x40;

// Predefined window classes, as templates name them by ordinal.
namespace control_class {
inline constexpr std::uint16_t kButton = 0x0080;
inline constexpr std::uint16_t kEdit = 0x0081;
inline constexpr std::uint16_t kStatic = 0x0082;
inline constexpr std::uint16_t kListBox = 0x0083;
inline constexpr std::uint16_t kScrollBar = 0x0084;
inline constexpr std::uint16_t kComboBox = 0x0085;
}  // namespace control_class

// A menu, a class or a control text: absent, a 16-bit ordinal, or a string.
struct NameOrOrdinal {
  std::optional<std::uint16_t> ordinal;
  std::u16string name;  // empty with an ordinal, and when absent

  bool IsOrdinal(std::uint16_t value) const { return ordinal == value; }
  bool IsName(std::u16string_view value) const { return !ordinal && name == value; }
};

struct DialogFont {
  std::uint16_t pointSize = 0;
  std::uint16_t weight = 0;  // extended templates only
  bool italic = false;       // extended templates only
  std::uint8_t charset = 0;  // extended templates only
  std::u16string faceName;
};

struct DialogControl {
  // -1 for the identifier static controls carry: 0xFFFF in a classic template, 0xFFFFFFFF
  // (or 0x0000FFFF) in an extended one. Other values as stored, unsigned in classic templates.
  int id = 0;
  std::uint32_t rawId = 0;
  NameOrOrdinal windowClass;
  NameOrOrdinal text;  // an ordinal names a resource, e.g. the icon of an SS_ICON static
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t helpId = 0;  // extended templates only
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::vector<std::uint8_t> creationData;
};

struct DialogTemplate {
  bool extended = false;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t helpId = 0;  // extended templates only
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  NameOrOrdinal menu;
  NameOrOrdinal windowClass;
  std::u16string caption;
  std::optional<DialogFont> font;  // present when the style has DS_SETFONT
  std::vector<DialogControl> controls;
};

// The template, or nothing when any part of it, its controls included, is not within the data.
std::optional<DialogTemplate> ParseDialogTemplate(Bytes data);

}  // namespace pe

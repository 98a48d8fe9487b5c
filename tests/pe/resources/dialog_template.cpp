#include "dialog_template.hpp"

namespace pe {
namespace {

constexpr std::uint16_t kExtendedSignature = 0xFFFF;
constexpr std::uint16_t kOrdinalMarker = 0xFFFF;

NameOrOrdinal ReadNameOrOrdinal(ByteCursor& cursor) {
  NameOrOrdinal value;
  ByteCursor peek = cursor;
  const std::uint16_t first = peek.U16();
  if (first == kOrdinalMarker) {
    cursor.Skip(2);
    value.ordinal = cursor.U16();
  } else {
    value.name = cursor.Utf16z();
  }
  return value;
}

int ControlId(std::uint32_t raw, bool extended) {
  if (raw == 0xFFFF || (extended && raw == 0xFFFFFFFF)) return -1;
  return static_cast<int>(raw);
}

DialogControl ReadControl(ByteCursor& cursor, bool extended) {
  DialogControl control;
  cursor.Align(4);
  if (extended) {
    control.helpId = cursor.U32();
    control.exStyle = cursor.U32();
    control.style = cursor.U32();
  } else {
    control.style = cursor.U32();
    control.exStyle = cursor.U32();
  }
  control.x = cursor.I16();
  control.y = cursor.I16();
  control.cx = cursor.I16();
  control.cy = cursor.I16();
  control.rawId = extended ? cursor.U32() : cursor.U16();
  control.id = ControlId(control.rawId, extended);
  control.windowClass = ReadNameOrOrdinal(cursor);
  control.text = ReadNameOrOrdinal(cursor);
  // The size word does not count itself (as Windows and Wine read it in both kinds).
  const Bytes extra = cursor.Raw(cursor.U16());
  control.creationData.assign(extra.begin(), extra.end());
  return control;
}

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(Bytes data) {
  DialogTemplate dialog;
  ByteCursor cursor(data);
  ByteCursor peek(data, 2);
  dialog.extended = peek.U16() == kExtendedSignature && peek.ok();
  if (dialog.extended) {
    cursor.Skip(4);  // version, signature
    dialog.helpId = cursor.U32();
    dialog.exStyle = cursor.U32();
    dialog.style = cursor.U32();
  } else {
    dialog.style = cursor.U32();
    dialog.exStyle = cursor.U32();
  }
  const std::uint16_t count = cursor.U16();
  dialog.x = cursor.I16();
  dialog.y = cursor.I16();
  dialog.cx = cursor.I16();
  dialog.cy = cursor.I16();
  dialog.menu = ReadNameOrOrdinal(cursor);
  dialog.windowClass = ReadNameOrOrdinal(cursor);
  dialog.caption = cursor.Utf16z();
  if ((dialog.style & kDsSetFont) != 0) {
    DialogFont font;
    font.pointSize = cursor.U16();
    if (dialog.extended) {
      font.weight = cursor.U16();
      font.italic = cursor.U8() != 0;
      font.charset = cursor.U8();
    }
    font.faceName = cursor.Utf16z();
    dialog.font = std::move(font);
  }
  for (std::uint16_t i = 0; i < count && cursor.ok(); ++i)
    dialog.controls.push_back(ReadControl(cursor, dialog.extended));
  if (!cursor.ok()) return std::nullopt;
  return dialog;
}

}  // namespace pe

// Decoded records as one line of text each, so a test states a whole template or table in
// the form a reader checks it against its script.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_template.hpp"
#include "utf16.hpp"
#include "version_info.hpp"

namespace describe {

inline std::string Hex(std::uint32_t value) {
  char text[12];
  (void)std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// "#128" for an ordinal, the text for a name, "-" when absent.
inline std::string Of(const pe::NameOrOrdinal& value) {
  if (value.ordinal) return "#" + std::to_string(*value.ordinal);
  return value.name.empty() ? "-" : pe::ToUtf8(value.name);
}

inline std::string Box(int x, int y, int cx, int cy) {
  return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(cx) + "," + std::to_string(cy);
}

inline std::string Of(const pe::DialogTemplate& d) {
  std::string text = std::string(d.extended ? "ex" : "classic") + " style " + Hex(d.style) + " ex " + Hex(d.exStyle) +
                     " help " + std::to_string(d.helpId) + " at " + Box(d.x, d.y, d.cx, d.cy) + " menu " + Of(d.menu) +
                     " class " + Of(d.windowClass) + " caption " + pe::ToUtf8(d.caption);
  if (d.font)
    text += " font " + std::to_string(d.font->pointSize) + " " + std::to_string(d.font->weight) + " " +
            std::to_string(d.font->italic) + " " + Hex(d.font->charset) + " " + pe::ToUtf8(d.font->faceName);
  return text;
}

inline std::vector<std::string> Controls(const pe::DialogTemplate& d) {
  std::vector<std::string> lines;
  for (const pe::DialogControl& c : d.controls)
    lines.push_back(std::to_string(c.id) + " (" + Hex(c.rawId) + ") " + Of(c.windowClass) + " " + Of(c.text) +
                    " style " + Hex(c.style) + " ex " + Hex(c.exStyle) + " help " + std::to_string(c.helpId) + " at " +
                    Box(c.x, c.y, c.cx, c.cy));
  return lines;
}

// "080404B0: FileVersion=1, 0, 0, 3; ..." per table.
inline std::vector<std::string> Tables(const pe::VersionInfo& info) {
  std::vector<std::string> lines;
  for (const pe::StringTable& table : info.stringTables()) {
    std::string line = pe::ToUtf8(table.name) + ":";
    for (const pe::VersionString& string : table.strings)
      line += " " + pe::ToUtf8(string.key) + "=" + pe::ToUtf8(string.value) + ";";
    lines.push_back(line);
  }
  return lines;
}

}  // namespace describe

#include "windows_path.hpp"

#include <array>

namespace {

// One character of code page 936: a lead byte 0x81-0xFE with a trail byte 0x40-0xFE (not 0x7F)
// makes a pair, anything else stands alone. ASCII letters are upper-cased.
std::vector<std::string> DecodeCp936(std::string_view bytes) {
  std::vector<std::string> characters;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead >= 0x81 && lead <= 0xFE && i + 1 < bytes.size()) {
      const auto trail = static_cast<unsigned char>(bytes[i + 1]);
      if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
        characters.emplace_back(bytes.substr(i, 2));
        i += 2;
        continue;
      }
    }
    char c = bytes[i++];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    characters.emplace_back(1, c);
  }
  return characters;
}

bool IsSeparator(const std::string& c) { return c == "\\" || c == "/"; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, whatever extension follows and with spaces before it.
bool IsDosDevice(std::string segment) {
  if (const auto dot = segment.find('.'); dot != std::string::npos) segment.resize(dot);
  while (!segment.empty() && segment.back() == ' ') segment.pop_back();
  static constexpr std::array<std::string_view, 4> kPlain{"CON", "PRN", "AUX", "NUL"};
  for (auto device : kPlain)
    if (segment == device) return true;
  return segment.size() == 4 && (segment.starts_with("COM") || segment.starts_with("LPT")) && segment[3] >= '1' &&
         segment[3] <= '9';
}

}  // namespace

WindowsPath NormaliseWindowsPath(std::string_view path) {
  const std::vector<std::string> characters = DecodeCp936(path);
  WindowsPath result;
  std::vector<std::string> raw(1);
  const auto collect = [&](std::size_t from) {
    for (std::size_t i = from; i < characters.size(); ++i) {
      if (IsSeparator(characters[i]))
        raw.emplace_back();
      else
        raw.back() += characters[i];
    }
  };
  if (characters.size() >= 2 && characters[0].size() == 1 && characters[0][0] >= 'A' && characters[0][0] <= 'Z' &&
      characters[1] == ":") {
    // "D:name" is relative to the drive's current folder: no root, so never within a folder.
    if (characters.size() > 2 && IsSeparator(characters[2])) result.root = characters[0] + ":";
    collect(2);
  } else if (characters.size() >= 2 && IsSeparator(characters[0]) && IsSeparator(characters[1])) {
    // \\server\share: the first two segments are the root, which ".." never leaves.
    collect(2);
    std::string server = raw.size() > 0 ? raw[0] : "";
    std::string share = raw.size() > 1 ? raw[1] : "";
    result.root = "\\\\" + server + "\\" + share;
    raw.erase(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(2, raw.size())));
  } else {
    collect(0);
  }
  for (std::string& segment : raw) {
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") {
      if (!result.segments.empty()) result.segments.pop_back();
      continue;
    }
    // Trailing dots and spaces never reach the file system (kept only by "\\?\" paths).
    while (!segment.empty() && (segment.back() == '.' || segment.back() == ' ')) segment.pop_back();
    if (segment.empty()) continue;
    if (segment.find(':') != std::string::npos) result.colon = true;
    if (IsDosDevice(segment)) result.device = true;
    result.segments.push_back(segment);
  }
  return result;
}

bool WindowsPath::Within(const WindowsPath& folder) const {
  if (device || colon || root.empty() || root != folder.root || segments.size() < folder.segments.size()) return false;
  for (std::size_t i = 0; i < folder.segments.size(); ++i)
    if (segments[i] != folder.segments[i]) return false;
  return true;
}

std::string WindowsPath::Key() const {
  std::string key = root;
  for (const std::string& segment : segments) key += "\\" + segment;
  return key;
}

WindowsPath WindowsPath::Parent() const {
  WindowsPath parent = *this;
  if (!parent.segments.empty()) parent.segments.pop_back();
  return parent;
}

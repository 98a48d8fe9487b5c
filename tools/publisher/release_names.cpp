#include "release_names.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "ansi936.hpp"
#include "text/text.hpp"
#include "utf16.hpp"

namespace {

// Strict UTF-8: no overlong forms, surrogates or values past U+10FFFF.
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    const std::size_t length = lead < 0x80         ? 1
                               : (lead >> 5) == 6  ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size()) return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
    out.push_back(c);
    i += length;
  }
  return out;
}

std::u16string ToUtf16(std::u32string_view text) {
  std::u16string out;
  for (const char32_t c : text) {
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

// Why a name cannot be published; empty when it can.
std::string Refusal(std::string_view name, const std::optional<std::u32string>& characters) {
  if (name.empty()) return "is empty";
  if (!characters) return "is not valid UTF-8";
  for (const char32_t c : *characters) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return "holds a control character";
    // '#' and '?' end a URL path and '%' starts an escape; the rest Windows refuses in a name.
    if (std::u32string_view(U"#?%\"<>|*:\\/").find(c) != std::u32string_view::npos)
      return "holds '" + std::string(1, static_cast<char>(c)) +
             "': # ? % \" < > | * : \\ break a URL path or a Windows name";
  }
  const std::u16string wide = ToUtf16(*characters);
  if (pe::FromAnsi936(pe::ToAnsi936(wide)) != wide) {
    for (const char32_t c : *characters)
      if (pe::FromAnsi936(pe::ToAnsi936(ToUtf16(std::u32string(1, c)))) != ToUtf16(std::u32string(1, c)))
        return text::Format("holds U+%04X, which code page 936 (the updater's file names) cannot encode",
                            static_cast<unsigned>(c));
  }
  // The updater's manifest reader trims the spaces around a value.
  if (name.front() == ' ' || name.back() == ' ') return "starts or ends with a space, which the updater would drop";
  if (name.back() == '.') return "ends with a dot, which Windows drops";
  // The server keeps its staging folders and temporary manifests out of sight as dot-files.
  if (name.front() == '.') return "starts with a dot: the server does not serve dot-files";
  return {};
}

// Windows upper-cases each character of a name to compare it. Within code page 936 the only
// characters that have a case partner are these ranges' (a-z, Greek, Cyrillic, small Roman
// numerals, full-width a-z), so this table is the whole of it for names that pass the rules.
char32_t Upper(char32_t c) {
  struct Range {
    char32_t first, last;
    std::int32_t shift;
  };
  static constexpr Range kRanges[] = {{U'a', U'z', -32},     {0x03B1, 0x03C1, -32}, {0x03C3, 0x03C9, -32},
                                      {0x0430, 0x044F, -32}, {0x0450, 0x045F, -80}, {0x2170, 0x217F, -16},
                                      {0xFF41, 0xFF5A, -32}};
  for (const Range& range : kRanges)
    if (c >= range.first && c <= range.last) return static_cast<char32_t>(static_cast<std::int32_t>(c) + range.shift);
  return c;
}

}  // namespace

std::string ServedName(std::string_view name, std::string_view shown) {
  const std::optional<std::u32string> characters = DecodeUtf8(name);
  if (const std::string reason = Refusal(name, characters); !reason.empty())
    throw PublishError(std::string(shown) + ": \"" + std::string(name) + "\" " + reason);
  return pe::ToAnsi936(ToUtf16(*characters));
}

std::string ServedPath(std::string_view path, std::string_view shown) {
  if (shown.empty()) shown = path;
  std::string served;
  for (std::size_t start = 0;;) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    served += ServedName(path.substr(start, slash - start), shown);
    if (slash == path.size()) return served;
    served += '/';
    start = slash + 1;
  }
}

std::string NameFromServed(std::string_view bytes) {
  const std::optional<std::u16string> wide = pe::FromAnsi936(bytes);
  return wide ? pe::ToUtf8(*wide) : std::string();
}

std::u32string CaseKey(std::string_view name) {
  std::u32string key = DecodeUtf8(name).value_or(std::u32string(name.begin(), name.end()));
  for (char32_t& c : key) c = Upper(c);
  return key;
}

void CheckCaseCollisions(const std::vector<ReleaseFile>& files) {
  // Per folder (as published), the first name seen for each key.
  std::vector<std::string> paths;
  paths.reserve(files.size());
  for (const ReleaseFile& file : files)
    paths.push_back(file.folder.empty() ? file.name : file.folder + "/" + file.name);
  std::sort(paths.begin(), paths.end());  // the same message whatever order the folder was read in
  std::map<std::string, std::map<std::u32string, std::string>> seen;
  for (const std::string& path : paths) {
    for (std::size_t start = 0;;) {
      const std::size_t slash = std::min(path.find('/', start), path.size());
      const std::string parent = start == 0 ? "" : path.substr(0, start - 1);
      const std::string name = path.substr(start, slash - start);
      const auto [it, fresh] = seen[parent].emplace(CaseKey(name), name);
      if (!fresh && it->second != name)
        throw PublishError(path.substr(0, slash) + ": \"" + name + "\" and \"" + it->second +
                           "\" are one name to Windows, which ignores case: rename one of them");
      if (slash == path.size()) break;
      start = slash + 1;
    }
  }
}

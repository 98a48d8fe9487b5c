#include "module_names.hpp"

#include "text/text.hpp"

namespace {

struct NameParts {
  std::size_t nameStart;  // after the last path separator
  std::size_t extension;  // the dot of the extension, or the end
};

NameParts Split(std::string_view path) {
  NameParts parts{0, path.size()};
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (text::IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
      ++i;
    } else if (c == '\\' || c == '/' || c == ':') {
      parts = {i + 1, path.size()};
    } else if (c == '.') {
      parts.extension = i;
    }
  }
  return parts;
}

}  // namespace

std::string ApplicationTitle(std::string_view modulePath) {
  const NameParts parts = Split(modulePath);
  return std::string(modulePath.substr(parts.nameStart, parts.extension - parts.nameStart));
}

std::string HelpFilePath(std::string_view modulePath) {
  return std::string(modulePath.substr(0, Split(modulePath).extension)) + ".HLP";
}

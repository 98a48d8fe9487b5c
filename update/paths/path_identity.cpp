#include "paths/path_identity.hpp"

#include <vector>

#include "text/text.hpp"

namespace {

// A double-byte character needs a trail byte of GBK's range; a lead byte before anything else
// stands alone, as Windows decodes it.
bool StartsPair(std::string_view path, std::size_t i) {
  if (i + 1 >= path.size() || !text::IsLeadByte(static_cast<unsigned char>(path[i]))) return false;
  const auto trail = static_cast<unsigned char>(path[i + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

void AddComponent(std::vector<std::string>& components, std::string& component) {
  if (component == "..") {
    if (!components.empty()) components.pop_back();
  } else {
    while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.pop_back();
    if (!component.empty()) components.push_back(component);
  }
  component.clear();
}

}  // namespace

std::string PathIdentity(std::string_view path) {
  std::vector<std::string> components;
  std::string component;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (StartsPair(path, i)) {
      component.append(path.substr(i, 2));
      ++i;
      continue;
    }
    char c = path[i];
    if (c == '\\' || c == '/') {
      AddComponent(components, component);
      continue;
    }
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    component += c;
  }
  AddComponent(components, component);
  // Joined by a byte no name holds: a component may end in a trail byte 0x5C.
  std::string identity;
  for (const std::string& part : components) identity += '\0' + part;
  return identity;
}

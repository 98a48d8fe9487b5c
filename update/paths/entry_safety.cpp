#include "paths/entry_safety.hpp"

#include <array>
#include <string_view>

#include "paths/install_paths.hpp"
#include "paths/path_identity.hpp"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices whatever extension follows.
bool IsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 4> kPlain{"CON", "PRN", "AUX", "NUL"};
  for (auto device : kPlain)
    if (EqualsIgnoringCase(base, device)) return true;
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9')
    return EqualsIgnoringCase(base.substr(0, 3), "COM") || EqualsIgnoringCase(base.substr(0, 3), "LPT");
  return false;
}

const char* PathReason(std::string_view path) {
  if (path.find(':') != std::string_view::npos) return "contains a colon (a drive or a stream)";
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t stop = path.find_first_of("\\/", start);
    const std::string_view component =
        path.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
    if (component == "..") return "contains a \"..\" component";
    if (IsDeviceName(component)) return "names a reserved device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    if (stop == std::string_view::npos) break;
    start = stop + 1;
  }
  return nullptr;
}

}  // namespace

std::string UnsafeEntryReason(const ManifestFileEntry& entry) {
  if (entry.name.empty()) return "name is empty";
  if (const char* reason = PathReason(entry.name)) return std::string("name ") + reason;
  if (!entry.to.empty() && entry.to.front() != '\\' && entry.to.front() != '/')
    return "to does not start with a backslash or a slash";
  if (const char* reason = PathReason(entry.to)) return std::string("to ") + reason;
  // The updater's renamed running file, which every run removes.
  if (SamePath(entry.to + "\\" + entry.name, std::string("\\") + kUpdaterAsideName))
    return std::string("names the updater's aside file ") + kUpdaterAsideName;
  return {};
}

std::string EntryLocalPath(std::string_view installDir, const ManifestFileEntry& entry) {
  return std::string(installDir) + entry.to + "\\" + entry.name;
}

bool IsUpdaterEntry(std::string_view localPath, std::string_view modulePath) {
  return !modulePath.empty() && SamePath(localPath, modulePath);
}

// Test helper: reports what the installation probe sees from where this program sits.
//   probe-report                  prints "<folder>\n<size>\n<version>\n" and writes it to
//                                 probe.txt beside itself
//   probe-report TABLE FILE...    prints each FILE's FileVersion in string table TABLE, spaces
//                                 removed, as the system's version functions give it, a line each
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "paths/install_paths.hpp"
#include "windows/install_probe.hpp"
#include "text/text.hpp"

namespace {

int Report() {
  const std::string folder = GetInstallDir();
  const std::string report =
      text::Format("%s\n%ld\n%s\n", folder.c_str(), static_cast<long>(GetTargetFileSize()), GetTargetVersion().c_str());
  std::fwrite(report.data(), 1, report.size(), stdout);
  // Beside this program, found without the probe so that a wrong folder shows.
  char self[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  const std::string path = InstallDirFromModulePath(self) + "\\probe.txt";
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(report.data(), 1, report.size(), out);
    std::fclose(out);
  }
  return 0;
}

void PrintVersion(const char* table, const char* file) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  std::string version;
  std::vector<char> block(size);
  void* value = nullptr;
  UINT length = 0;
  std::string query = text::Format("\\StringFileInfo\\%s\\FileVersion", table);
  if (size != 0 && GetFileVersionInfoA(file, 0, size, block.data()) &&
      VerQueryValueA(block.data(), query.c_str(), &value, &length) && value != nullptr)
    version = text::RemoveAll(static_cast<const char*>(value), ' ');
  std::printf("%s\n", version.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Report();
  for (int i = 2; i < argc; ++i) PrintVersion(argv[1], argv[i]);
  return 0;
}

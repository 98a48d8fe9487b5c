// pe-version FILE [TABLE]: prints the FileVersion string of TABLE (default 080404b0) as the
// updater's probe reads it on a Chinese system: spaces removed, in code page 936, followed by
// a newline. A missing string prints an empty line; only a wrong command line fails.
#include <cstdio>
#include <filesystem>
#include <string>

#include "file_version_probe.hpp"
#include "utf16.hpp"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    (void)std::fprintf(stderr, "usage: %s FILE [TABLE]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path file = argv[1];
  const std::u16string table = argc == 3 ? pe::FromAscii(argv[2]) : std::u16string(pe::kProbeTable);
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error))
    (void)std::fprintf(stderr, "pe-version: cannot read %s\n", argv[1]);
  const std::string version = pe::ProbeFileVersion(file, table) + "\n";
  // A version that did not reach its reader (a closed pipe, a full disk) is a failure.
  const bool written = std::fwrite(version.data(), 1, version.size(), stdout) == version.size();
  return written && std::fflush(stdout) == 0 ? 0 : 1;
}

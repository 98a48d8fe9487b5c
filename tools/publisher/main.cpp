// merovast-publish: writes and checks the manifest that the updater reads.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "manifest_check.hpp"
#include "manifest_writer.hpp"
#include "release_scan.hpp"

namespace {

constexpr const char* kUsage =
    "usage: merovast-publish manifest RELEASE_DIR URL [OUTPUT]\n"
    "       merovast-publish check MANIFEST\n"
    "\n"
    "manifest  writes update.htm for the release in RELEASE_DIR, whose files are downloaded from URL\n"
    "          (the folder served as update_url). RELEASE_DIR holds the new Ostravine.exe and every\n"
    "          other file in the subfolder it is installed to. Writes to OUTPUT, or standard output.\n"
    "check     says what the updater will do with MANIFEST and lists every problem, with its line.\n"
    "\n"
    "Exit status: 0 on success, 1 when the release or the manifest is refused, 2 on wrong usage.\n";

int Usage() {
  std::cerr << kUsage;
  return 2;
}

int Publish(const std::string& root, const std::string& url, const std::string& output) {
  const std::string manifest = WriteManifest(ScanRelease(root), url);
  if (output.empty()) {
    std::cout << manifest;
    return 0;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << manifest;
  out.close();
  if (!out) throw PublishError(output + ": cannot be written");
  return 0;
}

int Check(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(path + ": cannot be read");
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const ManifestCheck check = CheckManifest(bytes);
  if (check.headerRead) {
    std::cout << "update_version=" << check.header.update_version << "\n"
              << "update_filesize=" << check.header.FileSize() << "\n"
              << "update_url=" << check.header.update_url << "\n";
  }
  if (check.countRead) std::cout << "update_size=" << check.header.FileCount() << "\n";
  for (const PlannedDownload& download : check.downloads)
    std::cout << download.remoteAddress << " -> " << download.localPath << "\n";
  for (const std::string& problem : check.problems) std::cerr << path << ": " << problem << "\n";
  return check.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) return Usage();
    if (args[0] == "--help" || args[0] == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (args[0] == "manifest" && (args.size() == 3 || args.size() == 4))
      return Publish(args[1], args[2], args.size() == 4 ? args[3] : "");
    if (args[0] == "check" && args.size() == 2) return Check(args[1]);
    return Usage();
  } catch (const PublishError& error) {
    std::cerr << "merovast-publish: " << error.what() << "\n";
    return 1;
  }
}

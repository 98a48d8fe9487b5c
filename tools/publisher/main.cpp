// merovast-publish: writes and checks the manifest that the updater reads.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "manifest_check.hpp"
#include "manifest_signature.hpp"
#include "manifest_writer.hpp"
#include "release_check.hpp"
#include "release_scan.hpp"
#include "signing_key.hpp"

namespace {

constexpr const char* kUsage =
    "usage: merovast-publish manifest RELEASE_DIR URL [OUTPUT]\n"
    "         [--no-hashes] [--key PRIVATE_KEY_FILE]\n"
    "       merovast-publish check MANIFEST [--public-key KEY] [--release RELEASE_DIR]\n"
    "       merovast-publish keygen PRIVATE_KEY_FILE\n"
    "\n"
    "manifest  writes update.htm for the release in RELEASE_DIR, whose files are downloaded from URL\n"
    "          (the folder served as update_url). RELEASE_DIR holds the new Ostravine.exe and every\n"
    "          other file in the subfolder it is installed to. Writes to OUTPUT, or standard output.\n"
    "          Every entry gets a hash line (SHA-256 and size) unless --no-hashes is given;\n"
    "          --key signs the manifest with the private key that keygen wrote.\n"
    "check     says what the updater will do with MANIFEST, how many of the 5000 bytes it reads are\n"
    "          used, and lists every problem, with its line. With --public-key (the line keygen\n"
    "          printed) also what an updater built with that key refuses: a manifest without a valid\n"
    "          signature, an entry without a hash line. With --release, every file's size and SHA-256\n"
    "          in RELEASE_DIR against its hash line.\n"
    "keygen    writes a new private key to PRIVATE_KEY_FILE, never over an existing file, readable by\n"
    "          its owner only, and prints its public key: the value of UPDATE_PUBLIC_KEY.\n"
    "\n"
    "Options may stand anywhere after the command.\n"
    "Exit status: 0 on success, 1 when the release or the manifest is refused, 2 on wrong usage.\n";

int Usage() {
  std::cerr << kUsage;
  return 2;
}

// A command's operands and options; each option may stand anywhere after the command.
struct CommandLine {
  std::vector<std::string> operands;
  bool noHashes = false;
  std::optional<std::string> key;
  std::optional<std::string> publicKey;
  std::optional<std::string> release;
};

// Nothing when an option is not one of `allowed`, lacks its value or is given twice.
std::optional<CommandLine> ScanCommandLine(const std::vector<std::string>& args,
                                           const std::set<std::string_view>& allowed) {
  CommandLine line;
  const std::map<std::string_view, std::optional<std::string>*> valued{
      {"--key", &line.key}, {"--public-key", &line.publicKey}, {"--release", &line.release}};
  for (auto arg = args.begin() + 1; arg != args.end(); ++arg) {
    if (!arg->starts_with("--")) {
      line.operands.push_back(*arg);
    } else if (!allowed.contains(*arg)) {
      return std::nullopt;
    } else if (*arg == "--no-hashes") {
      if (line.noHashes) return std::nullopt;
      line.noHashes = true;
    } else {
      std::optional<std::string>& value = *valued.at(*arg);
      if (value || ++arg == args.end()) return std::nullopt;
      value = *arg;
    }
  }
  return line;
}

int Keygen(const std::string& path) {
  const SigningKey key = SigningKey::Generate();
  const std::string publicKey = PublicKeyHex(key.Public());
  key.SaveNew(path);
  std::cout << publicKey << "\n";
  return 0;
}

int Publish(const std::string& root, const std::string& url, const std::string& output, const CommandLine& line) {
  std::optional<SigningKey> key;
  if (line.key) key.emplace(SigningKey::Load(*line.key));
  const std::string manifest = WriteManifest(ScanRelease(root, !line.noHashes), url, key ? &*key : nullptr);
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

int Check(const std::string& path, const CommandLine& line) {
  std::optional<PublicKey> key;
  if (line.publicKey) {
    key = ParsePublicKey(*line.publicKey);
    if (!key) throw PublishError(*line.publicKey + ": not a public key (128 hexadecimal digits, as keygen prints)");
  }
  if (line.release && !std::filesystem::is_directory(*line.release))
    throw PublishError(*line.release + ": not a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(path + ": cannot be read");
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ManifestCheck check = CheckManifest(bytes, key);
  if (line.release) CheckReleaseFolder(*line.release, check);
  if (check.headerRead) {
    std::cout << "update_version=" << check.header.update_version << "\n"
              << "update_filesize=" << check.header.FileSize() << "\n"
              << "update_url=" << check.header.update_url << "\n";
  }
  if (check.countRead) std::cout << "update_size=" << check.header.FileCount() << "\n";
  for (const PlannedDownload& download : check.downloads)
    std::cout << download.remoteAddress << " -> " << download.localPath << "\n";
  if (check.entriesRead) std::cout << bytes.size() << " of " << kManifestLimit << " bytes used\n";
  for (const std::string& problem : check.problems) std::cerr << path << ": " << problem << "\n";
  return check.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The options each command takes.
  static const std::map<std::string, std::set<std::string_view>> kCommands{
      {"manifest", {"--no-hashes", "--key"}}, {"check", {"--public-key", "--release"}}, {"keygen", {}}};
  try {
    if (args.empty()) return Usage();
    if (args[0] == "--help" || args[0] == "-h") {
      std::cout << kUsage;
      return 0;
    }
    const auto command = kCommands.find(args[0]);
    if (command == kCommands.end()) return Usage();
    const std::optional<CommandLine> line = ScanCommandLine(args, command->second);
    if (!line) return Usage();
    const std::vector<std::string>& operands = line->operands;
    if (args[0] == "manifest" && (operands.size() == 2 || operands.size() == 3))
      return Publish(operands[0], operands[1], operands.size() == 3 ? operands[2] : "", *line);
    if (args[0] == "check" && operands.size() == 1) return Check(operands[0], *line);
    if (args[0] == "keygen" && operands.size() == 1) return Keygen(operands[0]);
    return Usage();
  } catch (const PublishError& error) {
    std::cerr << "merovast-publish: " << error.what() << "\n";
    return 1;
  }
}

// merovast-publish: writes, signs and checks the manifest that the updater reads, stages
// releases into a web root, and says what a manifest would do to an installation.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "block_maps.hpp"
#include "install_plan.hpp"
#include "manifest_check.hpp"
#include "manifest_signature.hpp"
#include "manifest_writer.hpp"
#include "release_check.hpp"
#include "release_patch.hpp"
#include "release_scan.hpp"
#include "release_stage.hpp"
#include "signing_key.hpp"

namespace {

constexpr const char* kUsage =
    "usage: merovast-publish manifest RELEASE_DIR URL [OUTPUT]\n"
    "         [--key PRIVATE_KEY_FILE] [--since BASE_DIR] [--no-hashes]\n"
    "       merovast-publish stage RELEASE_DIR WEB_ROOT URL_BASE [--key PRIVATE_KEY_FILE]\n"
    "         [--since BASE_DIR] [--allow-downgrade] [--no-hashes]\n"
    "       merovast-publish keygen PRIVATE_KEY_FILE\n"
    "       merovast-publish check MANIFEST [--public-key KEY] [--release RELEASE_DIR]\n"
    "       merovast-publish plan MANIFEST INSTALL_DIR [--public-key KEY]\n"
    "\n"
    "stage     copies the release to WEB_ROOT/v/VERSION under the names the server must hold, then\n"
    "          points WEB_ROOT/update_go/update.htm at URL_BASE/v/VERSION (URL_BASE: where WEB_ROOT\n"
    "          is served). A version folder never changes; an older version needs --allow-downgrade.\n"
    "manifest  writes update.htm for the release in RELEASE_DIR, whose files are downloaded from URL\n"
    "          (the folder served as update_url). RELEASE_DIR holds the new Ostravine.exe and every\n"
    "          other file in the subfolder it is installed to. Writes to OUTPUT, or standard output.\n"
    "keygen    writes a new private key to PRIVATE_KEY_FILE, never over an existing file, readable by\n"
    "          its owner only, and prints its public key: the value of UPDATE_PUBLIC_KEY.\n"
    "check     says what the updater will do with MANIFEST, how many of the 5000 bytes it reads are\n"
    "          used, and lists every problem, with its line. With --public-key (the line keygen\n"
    "          printed) also what an updater built with that key refuses: a manifest without a valid\n"
    "          signature, an entry without a hash line. With --release, every file's size and SHA-256\n"
    "          in RELEASE_DIR against its hash line.\n"
    "plan      says what the updater would do with MANIFEST in the installation INSTALL_DIR: whether\n"
    "          the target is current, which files it downloads or leaves, which folders it creates\n"
    "          and where it would stop. KEY: the public key an updater built with one checks.\n"
    "\n"
    "--key PRIVATE_KEY_FILE  signs the manifest with the private key that keygen wrote.\n"
    "--since BASE_DIR        the manifest lists only the files that differ from the release in\n"
    "                        BASE_DIR, and the target: BASE_DIR must be the only older version still\n"
    "                        installed.\n"
    "--no-hashes             no hash line (SHA-256 and size) after each entry.\n"
    "Options may stand anywhere after the command.\n"
    "\n"
    "Exit status: 0 on success, 1 when the release or the manifest is refused, 2 on wrong usage.\n";

// A command line: the command, its operands and its options, each option at most once.
struct CommandLine {
  std::string command;
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // a flag maps to ""

  std::optional<std::string> Option(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  bool Flag(const std::string& name) const { return options.contains(name); }
};

// What each command takes; an option not listed is wrong usage.
struct CommandSpec {
  std::size_t minOperands, maxOperands;
  std::set<std::string> valueOptions;
  std::set<std::string> flags;
};

const std::map<std::string, CommandSpec>& Commands() {
  static const std::map<std::string, CommandSpec> commands{
      {"keygen", {1, 1, {}, {}}},
      {"manifest", {2, 3, {"--key", "--since"}, {"--no-hashes"}}},
      {"stage", {3, 3, {"--key", "--since"}, {"--allow-downgrade", "--no-hashes"}}},
      {"check", {1, 1, {"--public-key", "--release"}, {}}},
      {"plan", {2, 2, {"--public-key"}, {}}},
  };
  return commands;
}

std::optional<CommandLine> Parse(const std::vector<std::string>& args) {
  if (args.empty() || !Commands().contains(args[0])) return std::nullopt;
  const CommandSpec& takes = Commands().at(args[0]);
  CommandLine line{args[0], {}, {}};
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      line.operands.push_back(arg);
    } else if (takes.flags.contains(arg)) {
      if (!line.options.emplace(arg, "").second) return std::nullopt;
    } else if (takes.valueOptions.contains(arg) && i + 1 < args.size()) {
      if (!line.options.emplace(arg, args[++i]).second) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (line.operands.size() < takes.minOperands || line.operands.size() > takes.maxOperands) return std::nullopt;
  return line;
}

int Usage() {
  std::cerr << kUsage;
  return 2;
}

std::optional<SigningKey> KeyOption(const CommandLine& line) {
  const auto path = line.Option("--key");
  return path ? std::optional<SigningKey>(SigningKey::Load(*path)) : std::nullopt;
}

std::optional<PublicKey> PublicKeyOption(const CommandLine& line) {
  const auto text = line.Option("--public-key");
  if (!text) return std::nullopt;
  const auto key = ParsePublicKey(*text);
  if (!key) throw PublishError(*text + ": not a public key (128 hexadecimal digits, as keygen prints)");
  return key;
}

std::string ReadManifestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(path + ": cannot be read");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ReportRemoved(const Patch& patch, const std::string& base) {
  for (const std::string& file : patch.removed)
    std::cerr << "merovast-publish: " << file << ": removed since " << base
              << "; the updater leaves it in installations\n";
}

int Keygen(const CommandLine& line) {
  const SigningKey key = SigningKey::Generate();
  const std::string publicKey = PublicKeyHex(key.Public());
  key.SaveNew(line.operands[0]);
  std::cout << publicKey << "\n";
  return 0;
}

int Publish(const CommandLine& line) {
  const std::string& root = line.operands[0];
  const std::optional<SigningKey> key = KeyOption(line);
  Release release = ScanRelease(root, !line.Flag("--no-hashes"));
  std::optional<Patch> patch;
  if (const auto base = line.Option("--since")) {
    patch = PatchSince(release, root, ScanRelease(*base, false), *base);
    release = patch->release;
  }
  // Maps need a place beside OUTPUT; a manifest on standard output has none.
  const std::vector<BlockMapFile> maps =
      line.operands.size() == 3 ? AddBlockMaps(release, root) : std::vector<BlockMapFile>{};
  const std::string manifest = WriteManifest(release, line.operands[1], key ? &*key : nullptr);
  if (line.operands.size() == 2) {
    std::cout << manifest;
  } else {
    const std::string& output = line.operands[2];
    const std::string mapsFolder = output + kMapsSuffix;
    CheckServedMaps(mapsFolder, maps);
    WriteBlockMaps(mapsFolder, maps);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << manifest;
    out.close();
    if (!out) throw PublishError(output + ": cannot be written");
    std::string url = line.operands[1];
    while (!url.empty() && url.back() == '/') url.pop_back();
    if (!maps.empty())
      std::cout << "wrote " << maps.size() << " block maps to " << mapsFolder << "/: serve them at " << url
                << kMapsSuffix << "/\n";
  }
  if (patch) ReportRemoved(*patch, *line.Option("--since"));
  return 0;
}

int Stage(const CommandLine& line) {
  const std::optional<SigningKey> key = KeyOption(line);
  StageRequest request{
      line.operands[0],          line.operands[1],     line.operands[2], std::nullopt, line.Flag("--allow-downgrade"),
      !line.Flag("--no-hashes"), key ? &*key : nullptr};
  if (const auto base = line.Option("--since")) request.since = *base;
  StageRelease(request, std::cout, std::cerr);
  return 0;
}

int Check(const CommandLine& line) {
  const std::string& path = line.operands[0];
  const std::optional<PublicKey> key = PublicKeyOption(line);
  const auto release = line.Option("--release");
  if (release && !std::filesystem::is_directory(*release)) throw PublishError(*release + ": not a folder");
  const std::string bytes = ReadManifestFile(path);
  ManifestCheck check = CheckManifest(bytes, key);
  if (release) CheckReleaseFolder(*release, path, check);
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

int Plan(const CommandLine& line) {
  const std::string& installDir = line.operands[1];
  if (!std::filesystem::is_directory(installDir)) throw PublishError(installDir + ": not a folder");
  const InstallPlan plan =
      PlanInstall(ReadManifestFile(line.operands[0]), installDir, PublicKeyOption(line), line.operands[0]);
  std::cout << "<install> is " << installDir << "\n";
  for (const std::string& step : plan.steps) std::cout << step << "\n";
  for (const std::string& fetch : plan.fetches) std::cout << fetch << "\n";
  std::cout << (plan.result ? "the update would succeed and start the target\n"
                            : "the update would fail: the user sees the failure box and nothing is started\n")
            << "assumed: every download succeeds; a running target (which the updater cannot replace) is not "
               "modelled\n";
  return plan.result ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      std::cout << kUsage;
      return 0;
    }
    const std::optional<CommandLine> line = Parse(args);
    if (!line) return Usage();
    if (line->command == "keygen") return Keygen(*line);
    if (line->command == "manifest") return Publish(*line);
    if (line->command == "stage") return Stage(*line);
    if (line->command == "plan") return Plan(*line);
    return Check(*line);
  } catch (const PublishError& error) {
    std::cerr << "merovast-publish: " << error.what() << "\n";
    return 1;
  } catch (const std::filesystem::filesystem_error& error) {
    std::cerr << "merovast-publish: " << error.what() << "\n";
    return 1;
  }
}

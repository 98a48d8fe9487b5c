// merovast-publish: writes and checks the manifest that the updater reads, and stages releases.
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

#include "install_plan.hpp"
#include "manifest_check.hpp"
#include "manifest_writer.hpp"
#include "release_patch.hpp"
#include "release_scan.hpp"
#include "release_stage.hpp"

namespace {

constexpr const char* kUsage =
    "usage: merovast-publish manifest RELEASE_DIR URL [OUTPUT] [--since BASE_DIR]\n"
    "       merovast-publish stage RELEASE_DIR WEB_ROOT URL_BASE [--key FILE] [--since BASE_DIR] [--allow-downgrade]\n"
    "       merovast-publish check MANIFEST\n"
    "       merovast-publish plan MANIFEST INSTALL_DIR [--public-key KEY]\n"
    "\n"
    "manifest  writes update.htm for the release in RELEASE_DIR, whose files are downloaded from URL\n"
    "          (the folder served as update_url). RELEASE_DIR holds the new Ostravine.exe and every\n"
    "          other file in the subfolder it is installed to. Writes to OUTPUT, or standard output.\n"
    "stage     copies the release to WEB_ROOT/v/VERSION under the names the server must hold, then\n"
    "          points WEB_ROOT/update_go/update.htm at URL_BASE/v/VERSION (URL_BASE: where WEB_ROOT\n"
    "          is served). A version folder never changes; an older version needs --allow-downgrade.\n"
    "check     says what the updater will do with MANIFEST and lists every problem, with its line.\n"
    "plan      says what the updater would do with MANIFEST in the installation INSTALL_DIR: whether\n"
    "          the target is current, which files it downloads or leaves, which folders it creates\n"
    "          and where it would stop. KEY: the public key an updater built with one checks.\n"
    "\n"
    "--since BASE_DIR  the manifest lists only the files that differ from the release in BASE_DIR,\n"
    "                  and the target: BASE_DIR must be the only older version still installed.\n"
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
};

// What each command takes; an option not listed is wrong usage.
struct CommandSpec {
  std::size_t minOperands, maxOperands;
  std::set<std::string> valueOptions;
  std::set<std::string> flags;
};

const std::map<std::string, CommandSpec>& Commands() {
  static const std::map<std::string, CommandSpec> commands{
      {"manifest", {2, 3, {"--since"}, {}}},
      {"stage", {3, 3, {"--key", "--since"}, {"--allow-downgrade"}}},
      {"check", {1, 1, {}, {}}},
      {"plan", {2, 2, {"--public-key"}, {}}},
  };
  return commands;
}

std::optional<CommandLine> Parse(const std::vector<std::string>& args) {
  if (args.empty() || !Commands().contains(args[0])) return std::nullopt;
  const CommandSpec& spec = Commands().at(args[0]);
  CommandLine line{args[0], {}, {}};
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      line.operands.push_back(arg);
    } else if (spec.flags.contains(arg)) {
      if (!line.options.emplace(arg, "").second) return std::nullopt;
    } else if (spec.valueOptions.contains(arg) && i + 1 < args.size()) {
      if (!line.options.emplace(arg, args[++i]).second) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (line.operands.size() < spec.minOperands || line.operands.size() > spec.maxOperands) return std::nullopt;
  return line;
}

int Usage() {
  std::cerr << kUsage;
  return 2;
}

void ReportRemoved(const Patch& patch, const std::string& base) {
  for (const std::string& file : patch.removed)
    std::cerr << "merovast-publish: " << file << ": removed since " << base
              << "; the updater leaves it in installations\n";
}

int Publish(const CommandLine& line) {
  const std::string& root = line.operands[0];
  Release release = ScanRelease(root);
  std::optional<Patch> patch;
  if (const auto base = line.Option("--since")) {
    patch = PatchSince(release, root, ScanRelease(*base), *base);
    release = patch->release;
  }
  const std::string manifest = WriteManifest(release, line.operands[1]);
  if (line.operands.size() == 2) {
    std::cout << manifest;
  } else {
    const std::string& output = line.operands[2];
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << manifest;
    out.close();
    if (!out) throw PublishError(output + ": cannot be written");
  }
  if (patch) ReportRemoved(*patch, *line.Option("--since"));
  return 0;
}

int Stage(const CommandLine& line) {
  if (line.Option("--key")) {
    std::cerr << "merovast-publish: --key: signing is not available in this build\n";
    return 2;
  }
  StageRequest request{line.operands[0], line.operands[1], line.operands[2], std::nullopt,
                       line.Option("--allow-downgrade").has_value()};
  if (const auto base = line.Option("--since")) request.since = *base;
  StageRelease(request, std::cout, std::cerr);
  return 0;
}

std::string ReadManifestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(path + ": cannot be read");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Check(const CommandLine& line) {
  const std::string& path = line.operands[0];
  const ManifestCheck check = CheckManifest(ReadManifestFile(path));
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

std::optional<PublicKey> PublicKeyOption(const CommandLine& line) {
  const auto text = line.Option("--public-key");
  if (!text) return std::nullopt;
  const auto key = ParsePublicKey(*text);
  if (!key) throw PublishError("--public-key: must be 128 hexadecimal digits, as keygen prints them");
  return key;
}

int Plan(const CommandLine& line) {
  const std::string& installDir = line.operands[1];
  if (!std::filesystem::is_directory(installDir)) throw PublishError(installDir + ": not a folder");
  const InstallPlan plan = PlanInstall(ReadManifestFile(line.operands[0]), installDir, PublicKeyOption(line));
  std::cout << "<install> is " << installDir << "\n";
  for (const std::string& step : plan.steps) std::cout << step << "\n";
  std::cout
      << (plan.result ? "the update would succeed and start the target\n"
                      : "the update would fail: the user sees the failure box and nothing is started\n")
      << "assumed: every download succeeds; a running target (which the updater cannot replace) is not modelled\n";
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

// merovast-publish: writes, signs and checks the manifest that the updater reads, stages
// releases into a web root, and says what a manifest would do to an installation.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "block_maps.hpp"
#include "durable_files.hpp"
#include "install_plan.hpp"
#include "manifest_expiry.hpp"
#include "manifest_check.hpp"
#include "manifest/manifest_signature.hpp"
#include "manifest_writer.hpp"
#include "object_store.hpp"
#include "release_check.hpp"
#include "release_manifest.hpp"
#include "release_names.hpp"
#include "release_scan.hpp"
#include "release_stage.hpp"
#include "release_updater.hpp"
#include "served_file.hpp"
#include "signing_key.hpp"
#include "store_prune.hpp"

namespace {

constexpr const char* kUsage =
    "usage: merovast-publish manifest RELEASE_DIR URL [OUTPUT]\n"
    "         [--key PRIVATE_KEY_FILE] [--since BASE_DIR] [--no-hashes] [--index] [--store URL]\n"
    "         [--published DIR]... [--keep-files] [EXPIRY]\n"
    "       merovast-publish stage RELEASE_DIR WEB_ROOT URL_BASE [--key PRIVATE_KEY_FILE] [--store [URL]]\n"
    "         [--folders] [--no-packs] [--since BASE_DIR] [--allow-downgrade] [--no-hashes] [--index]\n"
    "         [--keep-files] [EXPIRY]\n"
    "       merovast-publish prune WEB_ROOT --keep N [--dry-run]\n"
    "       merovast-publish renew MANIFEST --key PRIVATE_KEY_FILE EXPIRY\n"
    "       merovast-publish keygen PRIVATE_KEY_FILE\n"
    "       merovast-publish check MANIFEST [--public-key KEY] [--release RELEASE_DIR] [--web-root DIR]\n"
    "       merovast-publish plan MANIFEST INSTALL_DIR [--public-key KEY] [--web-root DIR]\n"
    "\n"
    "stage     copies the release to WEB_ROOT/v/VERSION under the names the server must hold, then\n"
    "          points WEB_ROOT/update_go/update.htm at URL_BASE/v/VERSION (URL_BASE: where WEB_ROOT\n"
    "          is served). A version folder never changes; an older version needs --allow-downgrade.\n"
    "          With --store, every file, the index and each map go once to the store WEB_ROOT/o/XX/SHA256\n"
    "          (served at URL, by default URL_BASE/o), the manifest lists the entries in an index there,\n"
    "          and WEB_ROOT/releases/NNNNNN.htm records the release; --folders writes v/VERSION too, for\n"
    "          updaters that predate the store. WEB_ROOT/.published-files lists every file ever staged\n"
    "          there with each SHA-256 and size: the manifest gets a removal line for each one the\n"
    "          release no longer has, and installations remove such a file when it has those bytes.\n"
    "          updaters that predate the store. Files of 1 to 1048575 bytes go into packs of up to 8 MiB,\n"
    "          which updaters fetch many files at a time from; packs the kept releases hold are reused.\n"
    "          --no-packs stores every file on its own, for updaters that know the store but not packs.\n"
    "prune     keeps the served store release and the N-1 staged before it, and removes the records,\n"
    "          objects and version folders of the others; --dry-run only says what it would remove.\n"
    "manifest  writes update.htm for the release in RELEASE_DIR, whose files are downloaded from URL\n"
    "          (the folder served as update_url). RELEASE_DIR holds the new Ostravine.exe and every\n"
    "          other file in the subfolder it is installed to. Writes to OUTPUT, or standard output.\n"
    "renew     sets the expiry of the signed MANIFEST (for example WEB_ROOT/update_go/update.htm) and\n"
    "          signs it again in place, every other line kept byte for byte.\n"
    "keygen    writes a new private key to PRIVATE_KEY_FILE, never over an existing file, readable by\n"
    "          its owner only, and prints its public key: the value of UPDATE_PUBLIC_KEY.\n"
    "check     says what the updater will do with MANIFEST, how many of the 5000 bytes it reads are\n"
    "          used, and lists every problem, with its line. With --public-key (the line keygen\n"
    "          printed) also what an updater built with that key refuses: a manifest without a valid\n"
    "          signature, past its expiry or with a malformed one, a version that does not read as\n"
    "          numbers, an entry without a hash line. With --release, every file's size and SHA-256\n"
    "          in RELEASE_DIR against its hash line.\n"
    "plan      says what the updater would do with MANIFEST in the installation INSTALL_DIR: whether\n"
    "          the target is current, which files it downloads or leaves, which folders it creates\n"
    "          and where it would stop. KEY: the public key an updater built with one checks.\n"
    "KEY may list several keys, separated by commas, as UPDATE_PUBLIC_KEY does: a manifest signed by\n"
    "any of them holds.\n"
    "\n"
    "--key PRIVATE_KEY_FILE  signs the manifest with the private key that keygen wrote.\n"
    "--since BASE_DIR        the manifest lists only the files that differ from the release in\n"
    "                        BASE_DIR, and the target: BASE_DIR must be the only older version still\n"
    "                        installed.\n"
    "--no-hashes             no hash line (SHA-256 and size) after each entry.\n"
    "--index                 the entries go to a release index that the manifest names by its SHA-256\n"
    "                        (stage: WEB_ROOT/v/VERSION.index; manifest: OUTPUT.index), as they do\n"
    "                        anyway when they do not fit in the manifest's 5000 bytes.\n"
    "--web-root DIR          the folder served at update_url's host: where check and plan find the\n"
    "                        release index that a manifest names, and a store's objects in o/.\n"
    "--store URL             manifest: the objects go to OUTPUT.objects/, to be served at URL.\n"
    "--keep-files            no removal lines: installations keep the files this release drops.\n"
    "--published DIR         manifest: a release folder published before (repeatable): a removal line for\n"
    "                        each of its files this release no longer has, as stage's ledger gives.\n"
    "EXPIRY: --expires-in DAYS or --expires-at YYYY-MM-DDTHH:MM:SSZ (UTC): an updater with a built-in\n"
    "                        key refuses the manifest from then on; renew it before. Default: none.\n"
    "Options may stand anywhere after the command.\n"
    "\n"
    "Exit status: 0 on success, 1 when the release or the manifest is refused, 2 on wrong usage.\n";

// A command line: the command, its operands and its options, each option at most once.
struct CommandLine {
  std::string command;
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;             // a flag maps to ""
  std::map<std::string, std::vector<std::string>> lists;  // the values of the options that may repeat

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
  std::set<std::string> optionalValueOptions;  // a value when the next argument is an http:// URL
  // cppcheck-suppress unusedStructMember ; called through the table, as Commands().at(name).run
  int (*run)(const CommandLine& line);
  std::set<std::string> repeatableOptions = {};  // each value kept, in order
};

int Keygen(const CommandLine& line);
int Publish(const CommandLine& line);
int Stage(const CommandLine& line);
int Renew(const CommandLine& line);
int Check(const CommandLine& line);
int Plan(const CommandLine& line);
int Prune(const CommandLine& line);

const std::map<std::string, CommandSpec>& Commands() {
  static const std::map<std::string, CommandSpec> commands{
      {"keygen", {1, 1, {}, {}, {}, Keygen}},
      {"manifest",
       {2,
        3,
        {"--key", "--since", "--expires-in", "--expires-at", "--store"},
        {"--no-hashes", "--index", "--keep-files"},
        {},
        Publish,
        {"--published"}}},
      {"stage",
       {3,
        3,
        {"--key", "--since", "--expires-in", "--expires-at"},
        {"--allow-downgrade", "--no-hashes", "--index", "--folders", "--no-packs", "--keep-files"},
        {"--store"},
        Stage}},
      {"renew", {1, 1, {"--key", "--expires-in", "--expires-at"}, {}, {}, Renew}},
      {"check", {1, 1, {"--public-key", "--release", "--web-root"}, {}, {}, Check}},
      {"plan", {2, 2, {"--public-key", "--web-root"}, {}, {}, Plan}},
      {"prune", {1, 1, {"--keep"}, {"--dry-run"}, {}, Prune}},
  };
  return commands;
}

std::optional<CommandLine> Parse(const std::vector<std::string>& args) {
  if (args.empty() || !Commands().contains(args[0])) return std::nullopt;
  const CommandSpec& takes = Commands().at(args[0]);
  CommandLine line{args[0], {}, {}, {}};
  // An optional value taken from where the operands would have stood, given back when they are short.
  std::optional<std::pair<std::size_t, std::string>> taken;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      line.operands.push_back(arg);
    } else if (takes.optionalValueOptions.contains(arg)) {
      const bool value = i + 1 < args.size() && args[i + 1].starts_with("http://");
      if (value) taken.emplace(line.operands.size(), args[i + 1]);
      if (!line.options.emplace(arg, value ? args[++i] : "").second) return std::nullopt;
    } else if (takes.repeatableOptions.contains(arg) && i + 1 < args.size()) {
      line.lists[arg].push_back(args[++i]);
    } else if (takes.flags.contains(arg)) {
      if (!line.options.emplace(arg, "").second) return std::nullopt;
    } else if (takes.valueOptions.contains(arg) && i + 1 < args.size()) {
      if (!line.options.emplace(arg, args[++i]).second) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (taken && line.operands.size() < takes.minOperands) {
    line.operands.insert(line.operands.begin() + static_cast<std::ptrdiff_t>(taken->first), taken->second);
    for (auto& [name, value] : line.options)
      if (takes.optionalValueOptions.contains(name) && value == taken->second) value.clear();
  }
  if (line.operands.size() < takes.minOperands || line.operands.size() > takes.maxOperands) return std::nullopt;
  if (line.Flag("--expires-in") && line.Flag("--expires-at")) return std::nullopt;
  return line;
}

// Served bytes as UTF-8, or as they are when they are no text of code page 936.
std::string Shown(const std::string& served) {
  const std::string name = NameFromServed(served);
  return name.empty() ? served : name;
}

int Usage() {
  std::cerr << kUsage;
  return 2;
}

std::optional<SigningKey> KeyOption(const CommandLine& line) {
  const auto path = line.Option("--key");
  return path ? std::optional<SigningKey>(SigningKey::Load(*path)) : std::nullopt;
}

PublicKeys PublicKeyOption(const CommandLine& line) {
  const auto text = line.Option("--public-key");
  if (!text) return {};
  const auto keys = ParsePublicKeys(*text);
  if (!keys || keys->empty())
    throw PublishError(*text +
                       ": not a list of public keys (128 hexadecimal digits each, as keygen prints, separated by "
                       "commas, none twice)");
  return *keys;
}

std::optional<UtcSeconds> ExpiresOption(const CommandLine& line) {
  return ExpiryOption(line.Option("--expires-in"), line.Option("--expires-at"), UtcNow(), std::cerr);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) throw PublishError(path + ": cannot be written");
}

std::optional<std::filesystem::path> WebRootOption(const CommandLine& line) {
  const auto dir = line.Option("--web-root");
  if (!dir) return std::nullopt;
  if (!std::filesystem::is_directory(*dir)) throw PublishError(*dir + ": not a folder");
  return std::filesystem::path(*dir);
}

std::string ReadManifestFile(const std::string& path) {
  std::optional<std::string> bytes = ReadWholeFile(path);
  if (!bytes) throw PublishError(path + ": cannot be read");
  return std::move(*bytes);
}

int Keygen(const CommandLine& line) {
  const SigningKey key = SigningKey::Generate();
  const std::string publicKey = PublicKeyHex(key.Public());
  key.SaveNew(line.operands[0]);
  std::cout << publicKey << "\n";
  return 0;
}

ReleaseOptions ReleaseOptionsOf(const CommandLine& line, const std::optional<SigningKey>& key) {
  ReleaseOptions options;
  options.root = line.operands[0];
  if (const auto base = line.Option("--since")) options.since = *base;
  options.hashes = !line.Flag("--no-hashes");
  options.index = line.Flag("--index");
  options.key = key ? &*key : nullptr;
  options.expires = ExpiresOption(line);
  options.store = line.Option("--store");
  options.folders = line.Flag("--folders");
  options.keepFiles = line.Flag("--keep-files");
  if (const auto published = line.lists.find("--published"); published != line.lists.end())
    for (const std::string& folder : published->second) {
      if (!std::filesystem::is_directory(folder)) throw PublishError(folder + ": not a folder");
      options.ledger = WithRelease(std::move(options.ledger), ScanRelease(folder, true));
    }
  if (options.folders && !options.store)
    throw PublishError("--folders goes with --store: stage writes v/VERSION anyway");
  return options;
}

int Publish(const CommandLine& line) {
  const std::optional<SigningKey> key = KeyOption(line);
  ReleaseOptions options = ReleaseOptionsOf(line, key);
  // Maps need a place beside OUTPUT; a manifest on standard output has none.
  options.maps = line.operands.size() == 3;
  const std::string& url = line.operands[1];
  const ReleaseManifest made = ListRelease(ScanReleaseFolder(options), options, url);
  const WrittenManifest& written = made.written;
  if (made.updaterNote) std::cerr << "merovast-publish: " << *made.updaterNote << "\n";
  if (line.operands.size() == 2) {
    if (written.index) throw PublishError("the entries go to a release index, written next to OUTPUT: give OUTPUT");
    std::cout << written.manifest;
  } else {
    const std::string& output = line.operands[2];
    if (options.store) {
      const std::filesystem::path objects = output + kObjectsSuffix;
      const std::vector<StoreObject> missing = MissingObjects(objects, StoreObjectsOf(made, options.root));
      WriteObjects(objects, missing);
      WriteFile(output, written.manifest);
      std::cout << "wrote " << missing.size() << " objects to " << objects.string() << "/: serve them at "
                << *options.store << "/ (as XX/SHA256)\n";
      if (options.since) ReportRemoved(made, *options.since, std::cerr);
      return 0;
    }
    const std::string mapsFolder = output + kMapsSuffix;
    CheckServedMaps(mapsFolder, made.maps);
    WriteBlockMaps(mapsFolder, made.maps);
    // The index first: a manifest is never there without the index it names.
    if (written.index) WriteFile(output + ".index", *written.index);
    WriteFile(output, written.manifest);
    if (written.index) std::cout << output << ".index: serve it at " << UpdateUrlOf(url) << kIndexFrom << "\n";
    if (!made.maps.empty())
      std::cout << "wrote " << made.maps.size() << " block maps to " << mapsFolder << "/: serve them at "
                << UpdateUrlOf(url) << kMapsSuffix << "/\n";
  }
  if (options.since) ReportRemoved(made, *options.since, std::cerr);
  return 0;
}

int Stage(const CommandLine& line) {
  const std::optional<SigningKey> key = KeyOption(line);
  StageRequest request{ReleaseOptionsOf(line, key), line.operands[1], line.operands[2], line.Flag("--allow-downgrade")};
  // --store alone: the store is served below the web root, at URL_BASE/o.
  if (request.release.store && request.release.store->empty())
    request.release.store = UpdateUrlOf(request.urlBase) + "/" + kStoreFolder;
  request.packs = !line.Flag("--no-packs");
  if (!request.packs && !request.release.store) throw PublishError("--no-packs goes with --store");
  StageRelease(request, std::cout, std::cerr);
  return 0;
}

int Renew(const CommandLine& line) {
  const std::string& path = line.operands[0];
  const std::optional<SigningKey> key = KeyOption(line);
  const std::optional<UtcSeconds> expires = ExpiresOption(line);
  if (!key || !expires) throw PublishError("renew needs --key and --expires-in or --expires-at");
  const std::string renewed = RenewManifest(ReadManifestFile(path), *key, *expires);
  ReplaceDurably(path, renewed);
  std::cout << "renewed " << path << ": expires at " << UtcTimeText(*expires) << ", " << renewed.size() << " of the "
            << kManifestLimit << " bytes the updater reads\n";
  return 0;
}

int Check(const CommandLine& line) {
  const std::string& path = line.operands[0];
  const PublicKeys keys = PublicKeyOption(line);
  const auto release = line.Option("--release");
  if (release && !std::filesystem::is_directory(*release)) throw PublishError(*release + ": not a folder");
  const std::string bytes = ReadManifestFile(path);
  const std::optional<std::filesystem::path> webRoot = WebRootOption(line);
  ManifestCheck check = CheckManifest(bytes, keys, webRoot);
  const std::string reading =
      release ? *release + ": " + DescribeReading(CheckReleaseFolder(*release, path, check)) + "\n" : std::string();
  if (release && check.updaterEntry >= 0) CheckReleaseFolderUpdater(*release, bytes, keys, check);
  if (check.headerRead) {
    std::cout << "update_version=" << check.header.update_version << "\n"
              << "update_filesize=" << check.header.FileSize() << "\n"
              << "update_url=" << check.header.update_url << "\n";
    ReportExpiry(check, !keys.empty(), UtcNow(), std::cout);
    if (check.store) std::cout << "update_store=" << StoreValue(*check.store) << "\n";
  }
  if (check.countRead) std::cout << "update_size=" << check.header.FileCount() << "\n";
  if (check.indexRead)
    std::cout << "update_index=" << check.indexAddress << ": " << check.index->digest.size
              << " bytes, update_size=" << check.indexCount.FileCount() << "\n";
  std::cout << reading;
  for (const PlannedDownload& download : check.downloads)
    std::cout << download.remoteAddress << " -> " << download.localPath << "\n";
  for (std::size_t i = 0; i < check.removals.size(); ++i)
    std::cout << "removal line " << i << ": removes <install>" << Shown(check.removals[i].path) << " when it is "
              << HashValue(check.removals[i].digest) << "\n";
  if (check.updaterEntry >= 0)
    std::cout << "entry " << check.updaterEntry
              << " replaces the updater; an installation runs the new one from the next run on\n";
  if (check.entriesRead || check.index) std::cout << bytes.size() << " of " << kManifestLimit << " bytes used\n";
  for (const std::string& problem : check.problems) std::cerr << path << ": " << problem << "\n";
  return check.problems.empty() ? 0 : 1;
}

int Plan(const CommandLine& line) {
  const std::string& installDir = line.operands[1];
  if (!std::filesystem::is_directory(installDir)) throw PublishError(installDir + ": not a folder");
  const InstallPlan plan = PlanInstall(ReadManifestFile(line.operands[0]), installDir, PublicKeyOption(line),
                                       WebRootOption(line), line.operands[0]);
  std::cout << "<install> is " << installDir << "\n";
  for (const std::string& step : plan.steps) std::cout << step << "\n";
  for (const std::string& fetch : plan.fetches) std::cout << fetch << "\n";
  std::cout << (plan.result ? "the update would succeed and start the target\n"
                            : "the update would fail: the user sees the failure box and nothing is started\n")
            << "assumed: every download succeeds; a running target (which the updater cannot replace) is not "
               "modelled\n";
  return plan.result ? 0 : 1;
}

int Prune(const CommandLine& line) {
  const std::string keep = line.Option("--keep").value_or("");
  if (keep.empty()) throw PublishError("prune needs --keep N");
  const bool digits = !keep.empty() && keep.size() <= 6 && keep.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(keep) < 2)
    throw PublishError("--keep " + keep +
                       ": give 2 or more, so that an installation updating from the manifest served before still "
                       "finds its objects");
  PruneStore({line.operands[0], std::stoi(keep), line.Flag("--dry-run")}, std::cout);
  return 0;
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
    return Commands().at(line->command).run(*line);
  } catch (const PublishError& error) {
    std::cerr << "merovast-publish: " << error.what() << "\n";
    return 1;
  } catch (const std::filesystem::filesystem_error& error) {
    std::cerr << "merovast-publish: " << error.what() << "\n";
    return 1;
  }
}

#include "release_updater.hpp"

#include <algorithm>
#include <iostream>

#include "crypto.hpp"
#include "paths/install_paths.hpp"
#include "manifest_check.hpp"
#include "pe_image.hpp"
#include "release_names.hpp"
#include "section_text.hpp"

UpdaterTrust ReadUpdaterTrust(const std::filesystem::path& path) {
  const auto image = pe::PeImage::Load(path);
  if (!image) throw PublishError(path.filename().string() + ": not a Windows program, so not an updater");
  const auto record = pe::SectionText(*image, kTrustSectionName);
  const auto trust = record ? ParseTrustRecord(*record) : std::nullopt;
  if (!trust)
    throw PublishError(path.filename().string() +
                       ": carries no record of its server host and keys, so it is no updater this tool knows");
  return *trust;
}

bool IsReleaseUpdater(const ReleaseFile& file) {
  return file.folder.empty() && CaseKey(file.name) == CaseKey(kUpdaterFileName);
}

std::optional<std::string> CheckReleaseUpdater(const std::filesystem::path& root, const Release& release,
                                               const PublicKey& signingKey) {
  const auto updater = std::find_if(release.files.begin(), release.files.end(), IsReleaseUpdater);
  if (updater == release.files.end()) return std::nullopt;
  const std::string& name = updater->name;
  const UpdaterTrust trust = ReadUpdaterTrust(root / name);
  const std::string carries = "it looks for its manifest at " + trust.host + " and trusts " +
                              std::to_string(trust.keys.size()) + (trust.keys.size() == 1 ? " key" : " keys");
  if (std::find(trust.keys.begin(), trust.keys.end(), signingKey) == trust.keys.end())
    throw PublishError(name + ": does not carry the signing key's public key " + PublicKeyHex(signingKey) +
                       ", so it would refuse every manifest signed with it (" + carries + ")");
  return name + ": replaces the updater from the next run on; " + carries;
}

std::string UnsignedUpdaterRefusal(const std::string& name) {
  return name +
         ": the updater cannot replace its own running file without --key: only an updater built with a key "
         "replaces itself, and one without refuses this entry";
}

void CheckReleaseFolderUpdater(const std::filesystem::path& dir, std::string_view manifest, const PublicKeys& keys,
                               ManifestCheck& check) {
  const PlannedDownload& download = check.downloads[static_cast<std::size_t>(check.updaterEntry)];
  const std::filesystem::path path = dir.string() + download.entry.from + "/" + download.entry.name;
  const auto signature = FindManifestSignature(manifest.substr(0, kManifestLimit));
  try {
    const UpdaterTrust trust = ReadUpdaterTrust(path);
    std::cout << path.string() << ": looks for its manifest at " << trust.host << "\n";
    const bool carries = signature && std::any_of(trust.keys.begin(), trust.keys.end(), [&](const PublicKey& key) {
                           return std::find(keys.begin(), keys.end(), key) != keys.end() &&
                                  VerifyP256Signature(signature->signedText, signature->signature, key);
                         });
    if (!carries)
      check.problems.push_back(path.string() +
                               ": does not carry the key that signs the manifest, so it would refuse every "
                               "manifest signed with it");
  } catch (const PublishError& failure) {
    check.problems.push_back(failure.what());
  }
}

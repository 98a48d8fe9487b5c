#include "manifest_expiry.hpp"

#include <chrono>

#include "manifest_check.hpp"
#include "manifest/manifest_keys.hpp"
#include "manifest/manifest_signature.hpp"
#include "release.hpp"
#include "signing_key.hpp"
#include "text/text.hpp"
#include "manifest/update_manifest.hpp"

namespace {

constexpr int kMostDays = 36500;

}  // namespace

UtcSeconds UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::optional<UtcSeconds> ExpiryOption(const std::optional<std::string>& days, const std::optional<std::string>& at,
                                       UtcSeconds now, std::ostream& notes) {
  std::optional<UtcSeconds> expires;
  if (days) {
    const bool digits =
        !days->empty() && days->size() <= 5 && days->find_first_not_of("0123456789") == std::string::npos;
    const int count = digits ? std::stoi(*days) : 0;
    if (count < 1 || count > kMostDays)
      throw PublishError("--expires-in " + *days + ": give a whole number of days from 1 to " +
                         std::to_string(kMostDays));
    expires = now + static_cast<UtcSeconds>(count) * 86400;
  }
  if (at) {
    expires = ReadUtcTime(*at);
    if (!expires || *expires < 0)
      throw PublishError("--expires-at " + *at + ": give a UTC time as YYYY-MM-DDTHH:MM:SSZ, from 1970 on");
    if (*expires <= now)
      notes << "merovast-publish: warning: the manifest expires at " << *at
            << ", which has passed: an updater with a built-in key refuses it\n";
  }
  return expires;
}

void ReportExpiry(ManifestCheck& check, bool keyed, UtcSeconds now, std::ostream& out) {
  if (check.expiry == OptionalLine::kMalformed) {
    out << "update_expires= is malformed: an updater with a built-in key refuses the manifest\n";
  } else if (check.expiry == OptionalLine::kPresent) {
    const bool passed = now >= check.expires;
    out << "update_expires=" << UtcTimeText(check.expires) << " ("
        << (passed ? std::string("passed")
                   : text::Format("%lld days left", static_cast<long long>((check.expires - now) / 86400)))
        << "; an updater with a built-in key refuses the manifest from then on)\n";
    if (keyed && passed)
      check.problems.push_back("update_expires=" + UtcTimeText(check.expires) +
                               " has passed: an updater with a built-in key refuses the manifest; renew it");
  }
}

std::string ExpiryLine(UtcSeconds expires) { return manifest_key::Line(manifest_key::kExpires, UtcTimeText(expires)); }

std::string RenewManifest(std::string_view manifest, const SigningKey& key, UtcSeconds expires) {
  const ManifestCheck check = CheckManifest(manifest, PublicKeys{key.Public()});
  // Renewing keeps the index line byte for byte, so an index it names needs no look here.
  if (check.problems.size() > (check.indexUnchecked ? 1U : 0U))
    throw PublishError("the manifest is not renewed, since an updater with the key refuses it: " +
                       check.problems.front());
  // The check found the signature line last and the header read; the URL line ends the header.
  const std::string_view body = FindManifestSignature(manifest)->signedText;
  text::Pos urlEnd = 0;
  for (const std::string_view header : {manifest_key::kVersion, manifest_key::kFileSize, manifest_key::kUrl})
    urlEnd = ReadManifestValue(body, header, urlEnd)->end;
  const auto lineAt = static_cast<std::size_t>(urlEnd) + 2;
  std::size_t restAt = lineAt;
  if (check.expiry != OptionalLine::kAbsent)
    restAt = static_cast<std::size_t>(text::Find(body, "\r\n", static_cast<text::Pos>(lineAt))) + 2;
  std::string renewed = std::string(body.substr(0, lineAt)) + ExpiryLine(expires) + std::string(body.substr(restAt));
  const std::size_t total = renewed.size() + SignatureLine(Signature{}).size();
  if (total > kManifestLimit)
    throw PublishError(
        text::Format("the renewed manifest would be %zu bytes; the updater reads at most %zu", total, kManifestLimit));
  renewed += SignatureLine(key.Sign(renewed));
  return renewed;
}

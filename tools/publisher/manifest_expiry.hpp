// The expiry a publisher gives a signed manifest, so that a server that keeps serving it (a
// freeze) holds key-build users back only until then, and its renewal before that time.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "manifest/utc_time.hpp"

class SigningKey;
struct ManifestCheck;

// The system's time.
UtcSeconds UtcNow();

// The expiry that --expires-in DAYS (from `now`) or --expires-at YYYY-MM-DDTHH:MM:SSZ asks for;
// nothing when neither is given. A time not after `now` is allowed, for tests, with a warning to
// `notes`. Throws PublishError for a value of another form.
std::optional<UtcSeconds> ExpiryOption(const std::optional<std::string>& days, const std::optional<std::string>& at,
                                       UtcSeconds now, std::ostream& notes);

// Says on `out` when the checked manifest expires, or that its line is malformed; a passed expiry
// is a problem of the check for an updater with a key.
void ReportExpiry(ManifestCheck& check, bool keyed, UtcSeconds now, std::ostream& out);

// The line that states `expires`, directly after the update_url line.
std::string ExpiryLine(UtcSeconds expires);

// The signed manifest with its expiry line set to `expires` (added when it has none) and signed
// again; every other line stays byte for byte. Refuses (PublishError) a manifest that check with
// the key's public key rejects, other than for a passed expiry, and a result over 5000 bytes.
std::string RenewManifest(std::string_view manifest, const SigningKey& key, UtcSeconds expires);

#include "updater_trust.hpp"

#include "text/text.hpp"

std::optional<UpdaterTrust> ParseTrustRecord(std::string_view record) {
  record = text::UntilNul(record);
  constexpr std::string_view kHost = "host=", kKeys = "\nkeys=";
  const std::size_t keysAt = record.find(kKeys);
  if (!record.starts_with(kHost) || keysAt == std::string_view::npos || !record.ends_with('\n')) return std::nullopt;
  UpdaterTrust trust;
  trust.host = std::string(record.substr(kHost.size(), keysAt - kHost.size()));
  const std::string_view keys = record.substr(keysAt + kKeys.size(), record.size() - keysAt - kKeys.size() - 1);
  const auto parsed = ParsePublicKeys(keys);
  if (trust.host.empty() || trust.host.find('\n') != std::string::npos || !parsed) return std::nullopt;
  trust.keys = *parsed;
  return trust;
}

#include "manifest/manifest_signature.hpp"

#include <algorithm>

#include "text/base64.hpp"
#include "text/hex.hpp"
#include "manifest/manifest_keys.hpp"
#include "text/text.hpp"

std::optional<PublicKey> ParsePublicKey(std::string_view hex) {
  PublicKey key{};
  if (!HexDecode(hex, key.data(), key.size(), true)) return std::nullopt;
  return key;
}

std::string PublicKeyHex(const PublicKey& key) { return HexEncode(key.data(), key.size()); }

std::optional<PublicKeys> ParsePublicKeys(std::string_view commaSeparated) {
  PublicKeys keys;
  if (commaSeparated.empty()) return keys;
  for (std::size_t start = 0;;) {
    const std::size_t comma = commaSeparated.find(',', start);
    const auto key =
        ParsePublicKey(commaSeparated.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (!key || std::find(keys.begin(), keys.end(), *key) != keys.end()) return std::nullopt;
    keys.push_back(*key);
    if (comma == std::string_view::npos) return keys;
    start = comma + 1;
  }
}

std::string PublicKeysHex(const PublicKeys& keys) {
  std::string list;
  for (const PublicKey& key : keys) list += (list.empty() ? "" : ",") + PublicKeyHex(key);
  return list;
}

// 64 bytes in base64, the last group padded with "=".
constexpr std::size_t kEncodedLength = 88;

std::optional<ManifestSignature> FindManifestSignature(std::string_view manifest) {
  const std::string_view text = text::UntilNul(manifest);
  const text::Pos keyAt = text::Find(text, manifest_key::kSignature, 0);
  if (keyAt == text::kNotFound) return std::nullopt;
  const auto at = static_cast<std::size_t>(keyAt);
  if (at != 0 && (at < 2 || text.substr(at - 2, 2) != "\r\n")) return std::nullopt;
  const std::string_view line = text.substr(at + manifest_key::kSignature.size());
  if (line.size() != kEncodedLength + 2 || line.substr(kEncodedLength) != "\r\n") return std::nullopt;
  const auto bytes = Base64Decode(line.substr(0, kEncodedLength));
  ManifestSignature found{text.substr(0, at), {}};
  if (!bytes || bytes->size() != found.signature.size()) return std::nullopt;
  std::copy(bytes->begin(), bytes->end(), found.signature.begin());
  return found;
}

std::string SignatureLine(const Signature& signature) {
  return manifest_key::Line(manifest_key::kSignature, Base64Encode(signature.data(), signature.size()));
}

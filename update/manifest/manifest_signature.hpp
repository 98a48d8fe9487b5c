// The signature line that closes a signed manifest, and the public key that checks it:
// ECDSA P-256 over SHA-256 of every manifest byte before the line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The point X‖Y, 32 bytes each.
using PublicKey = std::array<std::uint8_t, 64>;
// r‖s, 32 bytes each.
using Signature = std::array<std::uint8_t, 64>;

// 128 hexadecimal digits (either case), the form the publisher's keygen prints.
std::optional<PublicKey> ParsePublicKey(std::string_view hex);
std::string PublicKeyHex(const PublicKey& key);

// The keys an updater trusts: a manifest signed by any of them holds. Empty without a key.
using PublicKeys = std::vector<PublicKey>;
// One or more keys of 128 digits separated by commas, none twice; empty text is no key.
// Nothing for any other text.
std::optional<PublicKeys> ParsePublicKeys(std::string_view commaSeparated);
std::string PublicKeysHex(const PublicKeys& keys);

struct ManifestSignature {
  std::string_view signedText;  // everything before the signature line
  Signature signature;
};

// The manifest text, up to its first zero byte, must end with the signature line:
// "update_signature=", 88 characters of canonical base64 and CR LF, starting the text or
// following a CR LF, and it must be the first occurrence of the key. Anything else is unsigned.
std::optional<ManifestSignature> FindManifestSignature(std::string_view manifest);

// "update_signature=<base64>\r\n".
std::string SignatureLine(const Signature& signature);

#include "file_digest.hpp"

#include "crypto.hpp"
#include "text/hex.hpp"

std::string HexOf(const Sha256Digest& digest) { return HexEncode(digest.data(), digest.size()); }

std::optional<Sha256Digest> Sha256Of(std::string_view bytes) {
  Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  return hash.Finish();
}

std::optional<FileDigest> ParseHashValue(std::string_view value) {
  constexpr std::size_t kHexLength = 64;
  FileDigest digest;
  if (value.size() < kHexLength + 2 || value.size() > kHexLength + 11 || value[kHexLength] != ' ' ||
      !HexDecode(value.substr(0, kHexLength), digest.sha256.data(), digest.sha256.size(), false))
    return std::nullopt;
  const std::string_view size = value.substr(kHexLength + 1);
  if (size.front() == '0' && size.size() > 1) return std::nullopt;
  std::int64_t total = 0;
  for (char c : size) {
    if (c < '0' || c > '9') return std::nullopt;
    total = total * 10 + (c - '0');
  }
  if (total > INT32_MAX) return std::nullopt;
  digest.size = static_cast<std::int32_t>(total);
  return digest;
}

std::string HashValue(const FileDigest& digest) { return HexOf(digest.sha256) + " " + std::to_string(digest.size); }

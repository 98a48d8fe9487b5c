#include "manifest/helper_file.hpp"

#include "crypto.hpp"

std::optional<HelperFile> ParseHelperFileValue(std::string_view value) {
  // "<sha256> <size>" is the value of a hash line; what stands before its space is the address.
  constexpr std::size_t kHexLength = 64;
  const std::size_t sizeSpace = value.rfind(' ');
  if (sizeSpace == std::string_view::npos || sizeSpace < kHexLength + 2) return std::nullopt;
  const std::size_t hashAt = sizeSpace - kHexLength;
  if (value[hashAt - 1] != ' ') return std::nullopt;
  const auto digest = ParseHashValue(value.substr(hashAt));
  if (!digest) return std::nullopt;
  return HelperFile{std::string(value.substr(0, hashAt - 1)), *digest};
}

bool IsHelperFileBody(const HelperFile& file, std::string_view body) {
  return body.size() == static_cast<std::size_t>(file.digest.size) && Sha256Of(body) == file.digest.sha256;
}

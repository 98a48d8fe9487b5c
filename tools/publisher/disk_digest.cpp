#include "disk_digest.hpp"

#include <cstdint>
#include <fstream>
#include <vector>

#include "crypto.hpp"
#include "release.hpp"

FileDigest DigestOfFile(const std::filesystem::path& path, const std::string& shown) {
  const auto tooLarge = [&shown] {
    return PublishError(shown + ": larger than the 2147483647 bytes a hash line can state");
  };
  std::error_code error;
  if (std::filesystem::file_size(path, error) > INT32_MAX && !error) throw tooLarge();
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(shown + ": cannot be read");
  Sha256 sha;
  std::vector<char> buffer(1 << 16);
  std::int64_t size = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    sha.Add(buffer.data(), static_cast<std::size_t>(in.gcount()));
    size += in.gcount();
    if (size > INT32_MAX) throw tooLarge();
  }
  const auto digest = sha.Finish();
  if (in.bad() || !digest) throw PublishError(shown + ": cannot be read");
  return {*digest, static_cast<std::int32_t>(size)};
}

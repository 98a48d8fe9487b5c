#include "helper_file_fetch.hpp"

#include "crypto.hpp"
#include "update_platform.hpp"

bool FetchHelperFile(UpdatePlatform& platform, const std::string& url, const HelperFile& file, std::string& body) {
  if (!platform.FetchExact(url + file.from, static_cast<std::size_t>(file.digest.size), body)) return false;
  return Sha256Of(body) == file.digest.sha256;
}

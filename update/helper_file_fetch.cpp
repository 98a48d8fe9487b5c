#include "helper_file_fetch.hpp"

#include "crypto.hpp"
#include "download_plan.hpp"
#include "update_platform.hpp"

bool FetchHelperFile(UpdatePlatform& platform, const std::string& url, const HelperFile& file, std::string& body) {
  if (!platform.FetchExact(ServedAddress(url, file.from), static_cast<std::size_t>(file.digest.size), body))
    return false;
  Sha256 hash;
  hash.Add(body.data(), body.size());
  return hash.Finish() == file.digest.sha256;
}

#include "download/helper_file_fetch.hpp"

#include "download/download_plan.hpp"
#include "update_platform.hpp"

bool FetchHelperFile(UpdatePlatform& platform, const std::string& url, const HelperFile& file, std::string& body) {
  return platform.FetchExact(ServedAddress(url, file.from), static_cast<std::size_t>(file.digest.size), body) &&
         IsHelperFileBody(file, body);
}

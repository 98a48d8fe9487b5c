#include "download/helper_file_fetch.hpp"

#include "download/download_plan.hpp"
#include "update_platform.hpp"

bool FetchHelperFile(UpdatePlatform& platform, const ServedRelease& release, const HelperFile& file,
                     std::string& body) {
  return platform.FetchExact(HelperFileAddress(release, file), static_cast<std::size_t>(file.digest.size), body) &&
         IsHelperFileBody(file, body);
}

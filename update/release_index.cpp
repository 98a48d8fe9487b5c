#include "release_index.hpp"

#include "crypto.hpp"
#include "update_platform.hpp"

IndexFetch FetchReleaseIndex(UpdatePlatform& platform, const std::string& url, const HelperFile& index,
                             std::string& body) {
  if (!platform.FetchExact(url + index.from, static_cast<std::size_t>(index.digest.size), body))
    return IndexFetch::kNotFetched;
  Sha256 hash;
  hash.Add(body.data(), body.size());
  return hash.Finish() == index.digest.sha256 ? IndexFetch::kFetched : IndexFetch::kMismatch;
}

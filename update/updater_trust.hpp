// The server host and the public keys an updater build trusts. The build keeps them as one text
// record in a section of its own, so that the publisher reads from an updater's file which
// manifests it will accept and where it will look for them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "manifest/manifest_signature.hpp"

// At most 8 bytes: a PE section name.
inline constexpr std::string_view kTrustSectionName = ".mvtrust";

struct UpdaterTrust {
  std::string host;
  PublicKeys keys;  // empty in a build without a key
};

// "host=HOST\nkeys=KEY,KEY\n", up to the first zero byte; nothing for any other text.
std::optional<UpdaterTrust> ParseTrustRecord(std::string_view record);

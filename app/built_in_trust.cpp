// The one file that a build with another host or other keys compiles anew.
#include "built_in_trust.hpp"

#if !defined(UPDATE_SERVER_HOST) || !defined(UPDATE_PUBLIC_KEY)
#error "UPDATE_SERVER_HOST and UPDATE_PUBLIC_KEY must be defined"
#endif

namespace {

// In a section of its own, where the publisher finds it in the file.
__attribute__((section(".mvtrust"), used)) const char kTrustRecord[] =
    "host=" UPDATE_SERVER_HOST "\nkeys=" UPDATE_PUBLIC_KEY "\n";

}  // namespace

const UpdaterTrust& BuiltInTrust() {
  // The values were checked when the build was configured.
  static const UpdaterTrust trust = ParseTrustRecord(kTrustRecord).value_or(UpdaterTrust{});
  return trust;
}

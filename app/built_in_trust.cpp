// The one file that a build with another host or other keys compiles anew.
#include "built_in_trust.hpp"

#if !defined(UPDATE_SERVER_HOST) || !defined(UPDATE_PUBLIC_KEY)
#error "UPDATE_SERVER_HOST and UPDATE_PUBLIC_KEY must be defined"
#endif

namespace {

// In a section of its own, where the publisher finds it in the file. cppcheck takes the quotes
// off string values of -D in a compile database, and then cannot read the concatenation.
__attribute__((section(".mvtrust"), used)) const char kTrustRecord[] =
    // cppcheck-suppress syntaxError
    "host=" UPDATE_SERVER_HOST "\nkeys=" UPDATE_PUBLIC_KEY "\n";

}  // namespace

const UpdaterTrust& BuiltInTrust() {
  // The values were checked when the build was configured.
  static const UpdaterTrust trust = ParseTrustRecord(kTrustRecord).value_or(UpdaterTrust{});
  return trust;
}

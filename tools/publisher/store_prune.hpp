// `prune`: the store keeps the served release and the releases staged just before it, so that an
// installation still updating from an earlier manifest finds its objects, and loses the rest.
#pragma once

#include <filesystem>
#include <ostream>

struct PruneRequest {
  std::filesystem::path webRoot;
  int keep = 2;  // the served release and keep - 1 staged before it
  bool dryRun = false;
};

// Keeps the served release's record and the keep - 1 records staged before it, removes every other
// record, then every object that neither a kept record nor the served manifest names, and the
// version folders of the removed releases. Records go first, so that a prune cut short leaves only
// objects no record names. Everything is decided before the first removal; throws PublishError,
// removing nothing, when a kept release's objects cannot be known. Holds the stage lock. Says on
// `out` what it removes (with dryRun, what it would remove) and the bytes freed.
void PruneStore(const PruneRequest& request, std::ostream& out);

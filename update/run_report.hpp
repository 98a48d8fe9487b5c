// What an update run did, step by step, for whoever wants to know: the publisher's dry run and
// the fuzzers' oracle. The updater itself reports to no one.
#pragma once

#include <string_view>

enum class RunEvent {
  kNoInstallFolder,    // the updater's folder is unknown: nothing is asked for
  kFetchFailed,        // the manifest could not be fetched
  kSignatureRejected,  // detail: why
  kHeaderMissing,      // detail: the key not found
  kExpiryMalformed,    // key build: the line after update_url starts with its key but is no UTC time
  kExpired,            // key build: detail: the expiry, now or past
  kVersionUnreadable,  // key build: detail: the manifest's version, which does not read as numbers
  kOlderRelease,       // key build: detail: the installed target's version, newer than the manifest's
  kTargetCurrent,      // the target matches: nothing to do
  kStoreMalformed,     // a line starts with the store key where it belongs but is not of its form
  kUnknownFeature,     // detail: the store line's first feature this updater does not know
  kCountMissing,       // detail: the key not found
  kIndexMalformed,     // the index line, or the index's count, is not of its form
  kIndexFailed,        // detail: the index's address; not fetched whole, or another SHA-256
  kIndexRead,          // detail: the index's address; its entries replace the manifest's
  kEntryMissing,       // entry: which; detail: the key not found
  kEntryUnsafe,        // detail: the rule it breaks
  kHashMalformed,      // a line starts with the entry's hash key but is no hash line
  kHashMissing,        // a key build, an index or a store meets an entry without a hash
  kMapMalformed,       // a line starts with the entry's map key after its hash line but is no map line
  kPackMalformed,      // the entry's pack line is not of its form, or stands where no pack can serve
  kFolderCreated,      // detail: the folder
  kFolderFailed,       // detail: the folder
  kFileCurrent,        // detail: the local path, left as it is
  kDownloaded,         // detail: the local path
  kDownloadFailed,     // detail: the remote address
  kInstalled,          // every entry is in place (or the count was zero or less)
  kOwnEntryRefused,    // a build without a key meets the updater's own entry; detail: its path
  kUpdaterReplaced,    // detail: the module path, which now holds the entry's file
  kReplaceFailed,      // detail: the step that failed; the running file stays where it was unless it says so
  // The removal list; `entry` is the line's number.
  kRemovalMalformed,  // the list or a line is not of its form, or its path may not be removed; detail: why
  kGoneRemoved,       // detail: the local path, removed
  kGoneOtherBytes,    // detail: the local path, whose file is not the line's size and SHA-256: left
  kGoneNothing,       // detail: the local path, where no file is
  kGoneLeft,          // detail: the local path: a folder, a file that cannot be held or removed, or now a release file
};

class RunReport {
 public:
  virtual ~RunReport() = default;
  // `entry` is the entry's index, or -1 for a step of the whole run.
  virtual void Report(RunEvent event, int entry, std::string_view detail) = 0;
};

// Everything the update run needs from outside the engine: the transfers, the probe of the
// installation, the folders on disk and the one message box of a failed manifest fetch.
// Windows supplies the real one; the tests supply an in-memory server and disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/download_plan.hpp"
#include "download/object_stream.hpp"
#include "file_digest.hpp"
#include "manifest/manifest_signature.hpp"

// What became of a file that a removal line names.
enum class Removal {
  kRemoved,     // it was the line's bytes and is gone
  kOtherBytes,  // a file of another size or SHA-256: left
  kNothing,     // no file or folder at the path
  kLeft,        // a folder, or a file that cannot be opened so that no one else writes it, or not removed
};

class UpdatePlatform {
 public:
  virtual ~UpdatePlatform() = default;

  // Fills `buffer` with at most `capacity` bytes of the body at `url`; 1 on success, 0 on failure.
  virtual int FetchText(const std::string& url, char* buffer, std::size_t capacity) = 0;
  // Fetches the body at `url` into `body`; 1 when it is exactly `size` bytes, 0 otherwise. A body
  // that grows past `size` ends the transfer at once.
  virtual int FetchExact(const std::string& url, std::size_t size, std::string& body) = 0;
  // Stores the body at `url` as the file `localPath`; 1 on success, 0 on failure.
  // With `expected`, a body of another size or SHA-256 is a failure too. A failed write raises
  // FileError.
  virtual int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected) = 0;
  // One request for `range` of the object at `url` ("Range: bytes=FIRST-LAST"; no Range header when
  // the range is the whole object) into `stream`: a 206 with exactly that Content-Range starts the
  // body at the range's first byte, a 200 at the object's first. True once the stream is Done;
  // false on anything else, without reading the rest.
  virtual bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream) = 0;
  // What lies beside `localPath` that a download could start from; nothing is opened.
  virtual SeedsOnDisk FindSeeds(const std::string& localPath) = 0;
  // Opens the seeds of `localPath` and holds them, and the new file beside it that is put in
  // place only with `expected`'s size and SHA-256; null when the destination cannot be held.
  virtual std::unique_ptr<Replacement> OpenSeeds(const std::string& localPath, const FileDigest& expected) = 0;
  // Whether the file at `localPath` has exactly the expected size and SHA-256; false when it
  // cannot be read.
  virtual bool IsFileCurrent(const std::string& localPath, const FileDigest& expected) = 0;
  // Whether `signature` is the key's signature over `message`.
  virtual bool VerifySignature(std::string_view message, const Signature& signature, const PublicKey& key) = 0;

  // The installed target's FileVersion without spaces, or empty text.
  virtual std::string GetTargetVersion() = 0;
  // The installed target's size in bytes, or -1.
  virtual std::int32_t GetTargetFileSize() = 0;
  // The updater's own folder without a trailing backslash; empty when it cannot be known.
  virtual std::string GetInstallDir() = 0;

  // The system's time in UTC, in seconds since 1970-01-01T00:00:00Z.
  virtual std::int64_t GetUtcSeconds() = 0;

  virtual bool IsDirectory(const std::string& path) = 0;
  // Creates one folder level; fails when the parent is missing.
  virtual bool MakeDirectory(const std::string& path) = 0;

  // Removes the file at `path` only when it has exactly `published`'s size and SHA-256, decided
  // and deleted through one handle that no one else may write or delete meanwhile. Never a folder.
  virtual Removal RemoveIfPublished(const std::string& path, const FileDigest& published) = 0;

  // The message box shown when the manifest cannot be fetched; returns once it is dismissed.
  virtual void ShowFetchFailure(const std::string& message) = 0;

  // For the updater's own entry. A platform without them knows no module, so no entry is the
  // updater's own and nothing is renamed.
  // The updater's running file, its last component spelt as it is on disk; empty when unknown.
  virtual std::string GetModulePath() { return {}; }
  // `path` with short components made long, when the file exists; otherwise `path`.
  virtual std::string LongPath(const std::string& path) { return path; }
  // Stores the body at `url` in `temporaryPath` only: checked against `expected` and flushed,
  // without opening any other file. 1 on success; 0 with no file left. A failed write raises
  // FileError.
  virtual int DownloadToTemporary(const std::string&, const std::string&, const FileDigest&) { return 0; }
  // Renames a file, also the running updater, never over an existing one.
  virtual bool RenameFile(const std::string&, const std::string&) { return false; }
  // True when no file is left at `path`, also when there was none.
  virtual bool RemoveFile(const std::string&) { return false; }
};

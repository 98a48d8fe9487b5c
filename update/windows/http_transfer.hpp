// The updater's downloads over WinINet. Each call opens and closes its own session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "download/download_plan.hpp"
#include "download/object_stream.hpp"
#include "file_digest.hpp"
#include "download/transfer_sink.hpp"

// Stores at most `capacity` bytes of the body in `buffer`, always a prefix of the body.
// 1 on success, 0 on failure (no connection, a status other than 2xx, a failed or short read).
int FetchText(const std::string& url, char* buffer, std::size_t capacity);

// Stores the body in `body`; 1 when it is exactly `size` bytes, 0 otherwise or on any failure of
// FetchText. A body longer than `size` ends the transfer as soon as it shows.
int FetchExact(const std::string& url, std::size_t size, std::string& body);

// Replaces the file at `localPath` with the body, only once the whole body has arrived.
// 1 on success, 0 on failure with the file as it was. With `expected`, a body of another size
// or SHA-256 is a failure, and one longer than the size ends the transfer as soon as it shows.
// A failed write raises FileError.
int DownloadToFile(const std::string& url, const std::string& localPath, const FileDigest* expected = nullptr);

// One GET of `url` into `sink`, which may already hold bytes: its Open starts it afresh. 1 when
// the whole body arrived and the sink kept it.
int DownloadToSink(const std::string& url, TransferSink& sink);

// One request for `range` into `stream`, as UpdatePlatform::StreamObject says; the body is read in
// the same pieces as every other.
bool StreamObject(const std::string& url, const ByteRange& range, ObjectStream& stream);

// Asks for one range with the header "Range: bytes=FIRST-LAST". A 206 counts only with
// "Content-Range: bytes FIRST-LAST/TOTAL" exactly and a body of exactly the range's length; a
// body that grows past it ends the transfer at once.
RangeAnswer FetchRange(const std::string& url, const ByteRange& range, TransferSink& sink);

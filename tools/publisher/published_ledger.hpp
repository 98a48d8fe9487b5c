// The ledger of a web root: every file it ever published, as a removal line names it (its path
// below the install folder) with each SHA-256 and size shipped there. A release gets a removal
// line for every ledger path it does not list, so that an installation of any age, or one that
// left a file because it was held, is cleaned at its next update. Prune never trims it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "manifest/removal_lines.hpp"
#include "release.hpp"

// In the web root; a dot-file, which the server never serves.
inline constexpr const char* kLedgerFile = ".published-files";

// The ledger's lines; none when there is no ledger yet. Throws PublishError for a line that is
// not "<path> <sha256> <size>".
std::vector<RemovalLine> ReadLedger(const std::filesystem::path& webRoot);

// Writes the ledger through a temporary file and a rename.
void WriteLedger(const std::filesystem::path& webRoot, const std::vector<RemovalLine>& ledger);

// `ledger` with every hashed file of `release` that it does not hold yet, in the order they come.
std::vector<RemovalLine> WithRelease(std::vector<RemovalLine> ledger, const Release& release);

// The removal lines of `release`: every line of `ledger` whose path is none of the release's files
// as Windows compares paths (case, trailing dots and spaces). Throws PublishError, naming the path,
// when the release turns a published file into a folder, or a published folder into a file.
std::vector<RemovalLine> DroppedFiles(const std::vector<RemovalLine>& ledger, const Release& release);

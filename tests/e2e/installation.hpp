// An installation of the updater in the test's scratch folder: Merovast.exe with a stand-in
// "Ostravine.exe" beside it, and the update server's tree ("www") that nginx serves. The
// install folder has a folder of its own for a parent, with a sentinel folder beside it, so a
// write beside the installation shows.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "wine_harness.hpp"

struct ManifestEntry {
  std::string name, from, to;
};

// A manifest in the updater's format: key=value lines, each ended by CR LF.
std::string Manifest(const std::string& version, long long fileSize, const std::vector<ManifestEntry>& entries = {});

// Every file below a folder by its relative path, with its bytes; a folder is an entry that
// ends in a backslash, with no bytes.
using Tree = std::map<std::wstring, std::string>;
Tree ReadTree(const std::wstring& folder);

class Installation {
 public:
  // diskSpare: when not 0, the install folder is a tmpfs with this many bytes (rounded up
  // to kilobytes) free beyond the two programs.
  explicit Installation(std::size_t diskSpare = 0);

  const std::wstring& Dir() const { return dir_; }
  // The folder that holds the install folder and the sentinel folder.
  std::wstring Parent() const { return dir_.substr(0, dir_.rfind(L'\\')); }
  const std::wstring& Www() const { return www_; }
  std::wstring Path(const std::wstring& name) const { return dir_ + L"\\" + name; }
  std::string TargetBytes() const { return harness::ReadBytes(Path(L"Ostravine.exe")); }

  // The manifest that says the installed target is current.
  std::string CurrentManifest() const;
  void PublishManifest(const std::string& manifest) const;
  // A file below the server's root, e.g. "release/bin/data.pak".
  void Publish(const std::wstring& path, const std::string& bytes) const;
  void ServeWithNginx() const { harness::ServeWithNginx(www_); }

  harness::Process StartUpdater() const;
  // Whether the target was started (its marker appears within waitMs).
  bool TargetStarted(DWORD waitMs) const;

 private:
  std::wstring dir_;
  std::wstring www_;
};

// Where the server publishes releases, as a manifest's update_url says it.
inline constexpr char kReleaseUrl[] = "http://127.0.0.1:8081/release";

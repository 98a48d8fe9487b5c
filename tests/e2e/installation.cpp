#include "installation.hpp"

#include <stdexcept>

namespace {

std::wstring WindowsPath(std::string unixPath) {
  for (char& c : unixPath) {
    if (c == '/') c = '\\';
  }
  return L"Z:" + harness::Wide(unixPath);
}

void Copy(const std::wstring& from, const std::wstring& to) {
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) throw std::runtime_error("cannot copy " + harness::Ansi(from));
}

void MakeDirectories(const std::wstring& path) {
  for (std::size_t slash = path.find(L'\\', 3);; slash = path.find(L'\\', slash + 1)) {
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    if (slash == std::wstring::npos) return;
  }
}

}  // namespace

std::string Manifest(const std::string& version, long long fileSize, const std::vector<ManifestEntry>& entries) {
  std::string text = "update_version=" + version + "\r\n" + "update_filesize=" + std::to_string(fileSize) + "\r\n" +
                     "update_url=" + kReleaseUrl + "\r\n" + "update_size=" + std::to_string(entries.size()) + "\r\n";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string n = std::to_string(i);
    text += "update_name" + n + "=" + entries[i].name + "\r\n";
    text += "update_from" + n + "=" + entries[i].from + "\r\n";
    text += "update_to" + n + "=" + entries[i].to + "\r\n";
  }
  return text;
}

Installation::Installation(std::size_t diskSpare)
    : dir_(harness::ScratchDir() + L"\\install"), www_(harness::ScratchDir() + L"\\www") {
  const std::wstring updater = WindowsPath(MEROVAST_EXE);
  const std::wstring target = harness::StandinExe(L"standin-zh");
  CreateDirectoryW(dir_.c_str(), nullptr);
  CreateDirectoryW(www_.c_str(), nullptr);
  if (diskSpare != 0) {
    const std::size_t bytes = harness::ReadBytes(updater).size() + harness::ReadBytes(target).size() + diskSpare;
    harness::MountSmallDisk(dir_, std::to_string((bytes + 1023) / 1024) + "k");
  }
  Copy(updater, Path(L"Merovast.exe"));
  Copy(target, Path(L"Ostravine.exe"));
}

std::string Installation::CurrentManifest() const {
  return Manifest("1,0,0,3", static_cast<long long>(TargetBytes().size()));
}

void Installation::PublishManifest(const std::string& manifest) const { Publish(L"update_go\\update.htm", manifest); }

void Installation::Publish(const std::wstring& path, const std::string& bytes) const {
  const std::wstring file = www_ + L"\\" + path;
  MakeDirectories(file.substr(0, file.rfind(L'\\')));
  harness::WriteBytes(file, bytes);
}

harness::Process Installation::StartUpdater() const { return harness::Process(harness::Quoted(Path(L"Merovast.exe"))); }

bool Installation::TargetStarted(DWORD waitMs) const {
  return harness::WaitForFile(Path(L"Ostravine.exe.ran"), waitMs);
}

#include "installation.hpp"

#include <memory>
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

struct SearchCloser {
  void operator()(HANDLE search) const { FindClose(search); }
};

void ReadTreeInto(const std::wstring& folder, const std::wstring& prefix, Tree& tree) {
  WIN32_FIND_DATAW found{};
  HANDLE first = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (first == INVALID_HANDLE_VALUE) return;
  const std::unique_ptr<void, SearchCloser> search(first);
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[prefix + name + L"\\"] = "";
      ReadTreeInto(folder + L"\\" + name, prefix + name + L"\\", tree);
    } else {
      tree[prefix + name] = harness::ReadBytes(folder + L"\\" + name);
    }
  } while (FindNextFileW(search.get(), &found));
}

}  // namespace

Tree ReadTree(const std::wstring& folder) {
  Tree tree;
  ReadTreeInto(folder, L"", tree);
  return tree;
}

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
    : dir_(harness::ScratchDir() + L"\\home\\install"), www_(harness::ScratchDir() + L"\\www") {
  const std::wstring updater = WindowsPath(MEROVAST_EXE);
  const std::wstring target = harness::StandinExe(L"standin-zh");
  MakeDirectories(Parent() + L"\\sentinel");
  harness::WriteBytes(Parent() + L"\\sentinel\\Ostravine.exe", harness::ReadBytes(target));
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

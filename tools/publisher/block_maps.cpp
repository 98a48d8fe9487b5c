#include "block_maps.hpp"

#include <fstream>
#include <map>
#include <system_error>

#include "blocks/block_map.hpp"
#include "crypto.hpp"
#include "durable_files.hpp"
#include "manifest/map_line.hpp"
#include "served_file.hpp"

namespace fs = std::filesystem;

std::string BlockMapOfFile(const fs::path& path, const std::string& shown) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError(shown + ": cannot be read");
  BlockMapBuilder builder;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    builder.Add(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  const auto map = builder.Finish();
  if (in.bad() || !map) throw PublishError(shown + ": cannot be read, or is too large for a block map");
  return SerializeBlockMap(*map);
}

std::vector<BlockMapFile> AddBlockMaps(Release& release, const fs::path& root) {
  std::map<std::string, std::string> maps;
  for (ReleaseFile& file : release.files) {
    if (!file.digest || file.digest->size < kBlockMapThreshold) continue;
    const std::string shown = file.folder.empty() ? file.name : file.folder + "/" + file.name;
    const std::string name = HexOf(file.digest->sha256);
    std::string bytes = BlockMapOfFile(root / shown, shown);
    const auto digest = Sha256Of(bytes);
    if (!digest) throw PublishError(shown + ": its map cannot be hashed");
    file.map = MapLine{std::string(kMapsSuffix) + "/" + name, {*digest, static_cast<std::int32_t>(bytes.size())}};
    maps.emplace(name, std::move(bytes));
  }
  std::vector<BlockMapFile> files;
  files.reserve(maps.size());
  for (auto& [name, bytes] : maps) files.push_back({name, std::move(bytes)});
  return files;
}

void CheckServedMaps(const fs::path& folder, const std::vector<BlockMapFile>& maps) {
  std::error_code error;
  for (const BlockMapFile& map : maps) {
    const fs::path path = folder / map.name;
    if (!fs::exists(fs::symlink_status(path, error))) continue;
    if (ReadWholeFile(path) != map.bytes)
      throw PublishError(path.string() + ": already holds another map; a served map never changes");
  }
}

std::size_t WriteBlockMaps(const fs::path& folder, const std::vector<BlockMapFile>& maps) {
  if (maps.empty()) return 0;
  if (!fs::exists(folder)) MakeFolder(folder);
  std::size_t written = 0;
  for (const BlockMapFile& map : maps) {
    if (fs::exists(folder / map.name)) continue;
    ReplaceDurably(folder / map.name, map.bytes);
    ++written;
  }
  return written;
}

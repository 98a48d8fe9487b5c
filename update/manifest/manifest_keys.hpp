// The keys of the manifest's lines, each with its "=", spelled once for the reader, the writer and
// the checker. An entry's keys carry the entry's number: manifest_key::kHash(3) is "update_hash3=".
#pragma once

#include <string>
#include <string_view>

namespace manifest_key {

inline constexpr std::string_view kVersion = "update_version=";
inline constexpr std::string_view kFileSize = "update_filesize=";
inline constexpr std::string_view kUrl = "update_url=";
inline constexpr std::string_view kExpires = "update_expires=";
inline constexpr std::string_view kStore = "update_store=";
inline constexpr std::string_view kSize = "update_size=";
inline constexpr std::string_view kIndex = "update_index=";
inline constexpr std::string_view kRemoved = "update_removed=";
inline constexpr std::string_view kSignature = "update_signature=";

struct EntryKey {
  std::string_view stem;
  std::string operator()(long long index) const { return std::string(stem) + std::to_string(index) + "="; }
};

inline constexpr EntryKey kName{"update_name"};
inline constexpr EntryKey kFrom{"update_from"};
inline constexpr EntryKey kTo{"update_to"};
inline constexpr EntryKey kHash{"update_hash"};
inline constexpr EntryKey kMap{"update_map"};
// The removal list's lines are numbered like entries.
inline constexpr EntryKey kGone{"update_gone"};
inline constexpr EntryKey kPack{"update_pack"};

// A whole line: the key, its value and the CR LF that ends it.
inline std::string Line(std::string_view key, std::string_view value) {
  return std::string(key).append(value).append("\r\n");
}

}  // namespace manifest_key
